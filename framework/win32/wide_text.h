// Texts at the Win32 API: the program keeps UTF-8, Windows takes UTF-16.
#pragma once

#include <string>

namespace pw::win32 {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

} // namespace pw::win32
