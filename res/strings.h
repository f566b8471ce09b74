// String table and version resource.
#pragma once

namespace pw {

// String 101: the system menu's About entry.
inline constexpr const char* kStrAboutMenu = "&About Pinwright Manger...";
inline constexpr const char* kAboutNotice = "File version 2005.3.29.2";

inline constexpr int kFileVersion[4] = {2005, 3, 29, 2};
inline constexpr const char* kVersionText = "2005.3.29.2";
inline constexpr const char* kProductName = "Pinwright Manger Application";

// Loads a string resource; empty when there is none.
const char* LoadStringResource(int id);

} // namespace pw
