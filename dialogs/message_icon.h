// How the dialogs show a sequence's message: warnings with the exclamation icon, the rest with the
// information icon.
#pragma once

#include "framework/message_box.h"
#include "protocol/switch_sequences.h"

namespace pw {

inline unsigned MessageIcon(MessageKind kind) {
    return kind == MessageKind::Warning ? MB_ICONEXCLAMATION : MB_ICONINFORMATION;
}

} // namespace pw
