// Saving and reading status files on Windows: a temporary file beside the target, flushed, then moved
// over it (a save) or to a name that is free (a new file that must not replace one). Paths are UTF-8 in the
// program (the file dialogs and the command line give them so) and UTF-16 at the API.
#include "settings/status_file.h"

#include "link/win32/wide_text.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace pw {

namespace {

std::string Why(const std::string& what, const std::string& path, DWORD error) {
    return what + " " + path + ": " + win32::SystemMessage(error) + ".";
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(win32::Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Writes `bytes` to a new file beside `path`, flushed and closed; its name in `tmp`. On failure nothing is
// left behind.
bool WriteBeside(const std::string& path, const std::array<std::uint8_t, kStatusFileSize>& bytes,
                 std::string& tmp, std::string& error) {
    const auto slash = path.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        tmp = folder + ".pinwright-" + std::to_string(::GetCurrentProcessId()) + "-" +
              std::to_string(::GetTickCount() + attempt);
        file = ::CreateFileW(win32::Widen(tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        error = Why("Cannot write in the folder of", path, ::GetLastError());
        return false;
    }
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && ::FlushFileBuffers(file);
    const DWORD writeError = ok ? 0 : ::GetLastError();
    const bool closed = ::CloseHandle(file) != 0;
    if (!ok || !closed) {
        error = Why("Cannot write", path, ok ? ::GetLastError() : writeError);
        ::DeleteFileW(win32::Widen(tmp).c_str());
        return false;
    }
    return true;
}

} // namespace

bool SaveStatusFile(const std::string& path, const SwitchModel& m, std::string& error) {
    const auto bytes = EncodeStatus(m);
    if (IsFolder(path)) {
        error = "Cannot save " + path + ": it is not a regular file.";
        return false;
    }
    std::string tmp;
    if (!WriteBeside(path, bytes, tmp, error)) return false;
    if (!::MoveFileExW(win32::Widen(tmp).c_str(), win32::Widen(path).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = Why("Cannot save", path, ::GetLastError());
        ::DeleteFileW(win32::Widen(tmp).c_str());
        return false;
    }
    return true;
}

bool CreateStatusFile(const std::string& path, const SwitchModel& m, bool& taken, std::string& error) {
    taken = false;
    const auto bytes = EncodeStatus(m);
    std::string tmp;
    if (!WriteBeside(path, bytes, tmp, error)) return false;
    // Without MOVEFILE_REPLACE_EXISTING the move fails when anything, a link too, has the name.
    if (::MoveFileExW(win32::Widen(tmp).c_str(), win32::Widen(path).c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    const DWORD moveError = ::GetLastError();
    ::DeleteFileW(win32::Widen(tmp).c_str());
    taken = moveError == ERROR_ALREADY_EXISTS || moveError == ERROR_FILE_EXISTS;
    error = taken ? "Cannot write " + path + ": the name is taken." : Why("Cannot write", path, moveError);
    return false;
}

bool ReadStatusFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    if (IsFolder(path)) {
        error = "Cannot load " + path + ": it is not a regular file.";
        return false;
    }
    HANDLE file = ::CreateFileW(win32::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Why("Cannot open", path, ::GetLastError());
        return false;
    }
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        error = "Cannot load " + path + ": it is not a regular file.";
        return false;
    }
    bytes.assign(kStatusFileSize + 1, 0);
    std::size_t got = 0;
    while (got < bytes.size()) {
        DWORD n = 0;
        if (!::ReadFile(file, bytes.data() + got, static_cast<DWORD>(bytes.size() - got), &n, nullptr)) {
            error = Why("Cannot read", path, ::GetLastError());
            ::CloseHandle(file);
            return false;
        }
        if (n == 0) break;
        got += n;
    }
    ::CloseHandle(file);
    bytes.resize(got);
    return true;
}

} // namespace pw
