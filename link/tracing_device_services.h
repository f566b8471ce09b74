// A trace of the printer line: every byte sent and received, with a time stamp, the port's name and the
// direction, one line per transfer, plus the opens, line settings and closes around them. Several ports
// may share one trace file.
//
//   2025-06-01 14:02:03.123 COM1 -> 1B 40
//   2025-06-01 14:02:03.135 COM1 <- 2E
//   2025-06-01 14:02:03.100 COM1 -- open COM1
//   2025-06-01 14:02:13.100 COM1 -- write cancelled: 1D 49 01   (an attempt given up: may have gone out)
#pragma once

#include "link/device_services_decorator.h"

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace pw {

class TraceSink {
  public:
    // Opens (and empties) the trace file; null with `error` set when it cannot be written.
    static std::unique_ptr<TraceSink> Open(const std::string& path, std::string& error);
    explicit TraceSink(std::FILE* file); // takes the file
    ~TraceSink();
    TraceSink(const TraceSink&) = delete;
    TraceSink& operator=(const TraceSink&) = delete;

    // One line: time stamp, port, direction ("->" sent, "<-" received, "--" an event), text.
    void Line(const std::string& port, const char* direction, const std::string& text);
    void Bytes(const std::string& port, const char* direction, const std::uint8_t* data, std::uint32_t n);
    static std::string Hex(const std::uint8_t* data, std::uint32_t n);

  private:
    std::mutex m_mutex;
    std::FILE* m_file;
};

class TracingDeviceServices : public DeviceServicesDecorator {
  public:
    // `portName` names every line; empty: each device is named by the name it was opened with.
    TracingDeviceServices(DeviceServices& inner, TraceSink& sink, std::string portName = {});

    DeviceHandle CreateFile(const std::string& name, ShareMode share) override;
    DeviceHandle Connect(const std::string& name, std::uint32_t limitMs) override;
    bool CloseHandle(DeviceHandle h) override;
    bool SetCommState(DeviceHandle h, const LineSettings& settings) override;
    bool WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length, std::uint32_t& written,
                   PendingWrite& pending) override;
    bool GetOverlappedResult(DeviceHandle h, PendingWrite& pending, std::uint32_t& written,
                             bool wait) override;
    void CancelIo(DeviceHandle h) override;
    bool ReadFile(DeviceHandle h, std::uint8_t* buffer, std::uint32_t length, std::uint32_t& read) override;

    // Write attempts still running, whose bytes are traced when they end or are given up.
    std::size_t PendingWrites();

  private:
    struct Pending {
        DeviceHandle device;
        std::vector<std::uint8_t> bytes;
    };
    std::string NameOf(DeviceHandle h);
    // Names the device and traces its open.
    DeviceHandle Opened(DeviceHandle h, const std::string& name);
    // Traces the attempts of `h` still running as given up, and forgets them.
    void GiveUpWrites(DeviceHandle h, const std::string& name);

    TraceSink& m_sink;
    std::string m_portName;
    std::mutex m_mutex; // the reader thread of a USB check reads beside the port's own thread
    std::map<DeviceHandle, std::string> m_names;
    std::map<std::uint64_t, Pending> m_pending; // write attempts still running
};

} // namespace pw
