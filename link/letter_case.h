// Letter case of names the user types (port names, setting values, the address scheme): ASCII only, so
// that a byte outside ASCII never changes with the locale.
#pragma once

#include <string>

namespace pw {

inline std::string AsciiUpper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

inline std::string AsciiLower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

} // namespace pw
