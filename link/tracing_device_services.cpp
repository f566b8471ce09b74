#include "link/tracing_device_services.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include "link/win32/wide_text.h"
#endif

namespace pw {

std::unique_ptr<TraceSink> TraceSink::Open(const std::string& path, std::string& error) {
#ifdef _WIN32
    std::FILE* f = _wfopen(win32::Widen(path).c_str(), L"w"); // fopen would read the UTF-8 name as ANSI
#else
    std::FILE* f = std::fopen(path.c_str(), "w");
#endif
    if (!f) {
        error = "Cannot write the trace " + path + ": " + std::strerror(errno) + ".";
        return nullptr;
    }
    return std::make_unique<TraceSink>(f);
}

TraceSink::TraceSink(std::FILE* file) : m_file(file) {}

TraceSink::~TraceSink() {
    if (m_file) std::fclose(m_file);
}

void TraceSink::Line(const std::string& port, const char* direction, const std::string& text) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::lock_guard lock(m_mutex);
    std::tm local{};
    if (const std::tm* t = std::localtime(&secs)) local = *t; // under the lock: localtime is not reentrant
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(m_file, "%s.%03d %s %s %s\n", stamp, static_cast<int>(ms), port.c_str(), direction,
                 text.c_str());
    std::fflush(m_file);
}

std::string TraceSink::Hex(const std::uint8_t* data, std::uint32_t n) {
    std::string hex;
    hex.reserve(n * 3);
    static const char kDigits[] = "0123456789ABCDEF";
    for (std::uint32_t i = 0; i < n; ++i) {
        if (i) hex += ' ';
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 15];
    }
    return hex;
}

void TraceSink::Bytes(const std::string& port, const char* direction, const std::uint8_t* data,
                      std::uint32_t n) {
    if (n == 0) return;
    Line(port, direction, Hex(data, n));
}

namespace {
// Writing the trace may change the thread's last error (file output does on Windows): the caller must
// still find the error of the call it made. Made right after that call; puts its error back when gone.
class KeepLastError {
  public:
    explicit KeepLastError(DeviceServices& services)
        : m_services(services), m_error(services.GetLastError()) {}
    ~KeepLastError() { m_services.SetLastError(m_error); }
    KeepLastError(const KeepLastError&) = delete;
    KeepLastError& operator=(const KeepLastError&) = delete;
    std::uint32_t Error() const { return m_error; }

  private:
    DeviceServices& m_services;
    std::uint32_t m_error;
};
} // namespace

TracingDeviceServices::TracingDeviceServices(DeviceServices& inner, TraceSink& sink, std::string portName)
    : DeviceServicesDecorator(inner), m_sink(sink), m_portName(std::move(portName)) {}

std::string TracingDeviceServices::NameOf(DeviceHandle h) {
    if (!m_portName.empty()) return m_portName;
    std::lock_guard lock(m_mutex);
    auto it = m_names.find(h);
    return it == m_names.end() ? std::string("?") : it->second;
}

DeviceHandle TracingDeviceServices::CreateFile(const std::string& name, ShareMode share) {
    return Opened(Inner().CreateFile(name, share), name);
}

DeviceHandle TracingDeviceServices::Connect(const std::string& name, std::uint32_t limitMs) {
    return Opened(Inner().Connect(name, limitMs), name);
}

DeviceHandle TracingDeviceServices::Opened(DeviceHandle h, const std::string& name) {
    const KeepLastError keep(Inner());
    const bool ok = h != kInvalidHandle && h != kNoDevice;
    if (ok) {
        std::lock_guard lock(m_mutex);
        m_names[h] = name;
    }
    m_sink.Line(m_portName.empty() ? name : m_portName, "--", (ok ? "open " : "cannot open ") + name);
    return h;
}

bool TracingDeviceServices::CloseHandle(DeviceHandle h) {
    const std::string name = NameOf(h);
    const bool ok = Inner().CloseHandle(h);
    const KeepLastError keep(Inner());
    GiveUpWrites(h, name); // a close ends what was still running
    {
        std::lock_guard lock(m_mutex);
        m_names.erase(h);
    }
    m_sink.Line(name, "--", "close");
    return ok;
}

bool TracingDeviceServices::SetCommState(DeviceHandle h, const LineSettings& s) {
    const bool ok = Inner().SetCommState(h, s);
    const KeepLastError keep(Inner());
    static const char* const kParity = "NOEMS";
    static const char* const kStop[] = {"1", "1.5", "2"};
    char text[64];
    std::snprintf(text, sizeof text, "line %u %u%c%s%s", s.baudRate, s.byteSize,
                  s.parity < 5 ? kParity[s.parity] : '?', s.stopBits < 3 ? kStop[s.stopBits] : "?",
                  ok ? "" : " refused");
    m_sink.Line(NameOf(h), "--", text);
    return ok;
}

bool TracingDeviceServices::WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length,
                                      std::uint32_t& written, PendingWrite& pending) {
    const bool ok = Inner().WriteFile(h, data, length, written, pending);
    const KeepLastError keep(Inner());
    m_sink.Bytes(NameOf(h), "->", data, written < length ? written : length);
    if (!ok && keep.Error() == kErrorIoPending) {
        // The rest goes out later; GetOverlappedResult tells how much.
        std::lock_guard lock(m_mutex);
        m_pending[pending.id] = {
            h, std::vector<std::uint8_t>(data + (written < length ? written : length), data + length)};
    }
    return ok;
}

bool TracingDeviceServices::GetOverlappedResult(DeviceHandle h, PendingWrite& pending, std::uint32_t& written,
                                                bool wait) {
    const bool ok = Inner().GetOverlappedResult(h, pending, written, wait);
    const KeepLastError keep(Inner());
    if (ok || keep.Error() != kErrorIoIncomplete) {
        std::vector<std::uint8_t> rest;
        {
            std::lock_guard lock(m_mutex);
            auto it = m_pending.find(pending.id);
            if (it != m_pending.end()) {
                rest = std::move(it->second.bytes);
                m_pending.erase(it);
            }
        }
        const auto n = static_cast<std::uint32_t>(rest.size());
        m_sink.Bytes(NameOf(h), "->", rest.data(), written < n ? written : n);
    }
    return ok;
}

void TracingDeviceServices::CancelIo(DeviceHandle h) {
    Inner().CancelIo(h);
    const KeepLastError keep(Inner());
    GiveUpWrites(h, NameOf(h));
}

void TracingDeviceServices::GiveUpWrites(DeviceHandle h, const std::string& name) {
    std::vector<std::vector<std::uint8_t>> given;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (it->second.device != h) {
                ++it;
                continue;
            }
            given.push_back(std::move(it->second.bytes));
            it = m_pending.erase(it);
        }
    }
    for (const auto& bytes : given)
        m_sink.Line(name, "--",
                    "write cancelled: " +
                        TraceSink::Hex(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
}

std::size_t TracingDeviceServices::PendingWrites() {
    std::lock_guard lock(m_mutex);
    return m_pending.size();
}

bool TracingDeviceServices::ReadFile(DeviceHandle h, std::uint8_t* buffer, std::uint32_t length,
                                     std::uint32_t& read) {
    const bool ok = Inner().ReadFile(h, buffer, length, read);
    const KeepLastError keep(Inner());
    m_sink.Bytes(NameOf(h), "<-", buffer, read < length ? read : length);
    return ok;
}

} // namespace pw
