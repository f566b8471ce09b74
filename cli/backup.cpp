#include "cli/backup.h"

#include "settings/status_file.h"

#include <filesystem>
#include <system_error>

namespace pw::cli {

namespace {

bool Plain(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

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
    if (name.size() > 64) name.resize(64);
    if (name.empty() || name == "." || name == "..") name = "port";
    return name;
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
    return PortPart(port) + "-" + UtcStamp(when) + ".sts";
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
    fs::path path = dir / PathOf(name);
    for (int n = 2; fs::exists(path, ec) && n < 1000; ++n)
        path = dir / PathOf(stem + "-" + std::to_string(n) + ".sts");
    const std::string target = TextOf(path);
    std::string why;
    if (!SaveStatusFile(target, settings, why)) {
        error = "Cannot write the backup " + target + ": " + why;
        return {};
    }
    return target;
}

} // namespace pw::cli
