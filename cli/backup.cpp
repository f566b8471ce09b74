#include "cli/backup.h"

#include "settings/status_file.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace pw::cli {

namespace {

bool Plain(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// Room for a readable part of the port; its hash tells apart ports whose readable parts agree.
constexpr std::size_t kReadablePart = 40;
// "NAME.sts", then "NAME-2.sts" up to this.
constexpr int kMostNames = 999;

// The port as a file name: a network address as "tcp-HOST-PORT", a device by its last path part.
std::string PortPart(const std::string& port) {
    std::string name;
    const std::string tcp = "tcp://";
    if (port.compare(0, tcp.size(), tcp) == 0) {
        name = "tcp-";
        for (char c : port.substr(tcp.size()))
            if (c != '[' && c != ']') name += (c == ':' || c == '/') ? '-' : c;
    } else {
        const std::size_t slash = port.find_last_of("/\\");
        name = slash == std::string::npos ? port : port.substr(slash + 1);
    }
    for (char& c : name)
        if (!Plain(c)) c = '_';
    if (name.size() > kReadablePart) name.resize(kReadablePart);
    if (name.empty() || name == "." || name == "..") name = "port";
    return name;
}

// FNV-1a of the whole port name as given, in eight hexadecimal digits.
std::string PortHash(const std::string& port) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : port) h = (h ^ c) * 16777619u;
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(h));
    return text;
}

std::string UtcStamp(std::time_t when) {
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &when);
#else
    gmtime_r(&when, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

// Names are UTF-8 on every platform.
std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string TextOf(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace

std::string BackupName(const std::string& port, std::time_t when) {
    return PortPart(port) + "-" + PortHash(port) + "-" + UtcStamp(when) + ".sts";
}

std::string WriteBackup(const std::string& folder, const std::string& port, const SwitchModel& settings,
                        std::time_t when, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path dir = PathOf(folder);
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir, ec)) {
        error = "Cannot make the backup folder " + folder + ": " + (ec ? ec.message() : "not a folder") + ".";
        return {};
    }
    const std::string name = BackupName(port, when);
    const std::string stem = name.substr(0, name.size() - 4);
    for (int n = 1; n <= kMostNames; ++n) {
        const std::string target =
            TextOf(dir / PathOf(n == 1 ? name : stem + "-" + std::to_string(n) + ".sts"));
        bool taken = false;
        std::string why;
        if (CreateStatusFile(target, settings, taken, why)) return target;
        if (!taken) {
            error = "Cannot write the backup " + target + ": " + why;
            return {};
        }
    }
    error = "Cannot write the backup in " + folder + ": " + name + " and its numbered names up to -" +
            std::to_string(kMostNames) + " are all taken.";
    return {};
}

} // namespace pw::cli
