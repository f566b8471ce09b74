// String table and version resource.
#pragma once

#include "pinwright_version.h"

namespace pw {

// String 101: the system menu's About entry.
inline constexpr const char* kStrAboutMenu = "&About Pinwright Manger...";
inline constexpr const char* kAboutNotice = "File version " PINWRIGHT_VERSION;

inline constexpr int kFileVersion[4] = {PINWRIGHT_VERSION_MAJOR, PINWRIGHT_VERSION_MINOR,
                                        PINWRIGHT_VERSION_PATCH, PINWRIGHT_VERSION_TWEAK};
inline constexpr const char* kVersionText = PINWRIGHT_VERSION;
inline constexpr const char* kProductName = "Pinwright Manger Application";

// Loads a string resource; empty when there is none.
const char* LoadStringResource(int id);

} // namespace pw
