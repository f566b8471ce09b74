// Texts at the Win32 API: the program keeps UTF-8 (arguments, file names, messages), Windows takes and
// gives UTF-16. Every text from the system, its error messages too, comes through here as UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace pw::win32 {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
std::string Narrow(const wchar_t* utf16, std::size_t length);

// The system's words for an error code (GetLastError, WSAGetLastError, getaddrinfo), as UTF-8 without the
// closing period and line end; "Windows error N" when it has none. `language` 0 is the user's language.
std::string SystemMessage(std::uint32_t error, std::uint16_t language = 0);

} // namespace pw::win32
