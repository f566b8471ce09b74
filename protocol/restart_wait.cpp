#include "protocol/restart_wait.h"

#include "protocol/commands.h"
#include "protocol/line_finder.h"

#include <algorithm>

namespace pw {

bool WaitForRestart(CPrinterPort& port, std::uint32_t limitMs, const std::function<bool()>& stopped) {
    DeviceServices& os = port.Services();
    const std::uint32_t start = os.GetTickCount();
    std::uint32_t interval = kRestartFirstPollMs;
    // DLE EOT is answered as it comes, before the commands ahead of it: the first query waits a first
    // interval, so that it is not answered before the end of user setting mode was taken.
    os.Sleep(std::min(kRestartFirstPollMs, limitMs));
    for (;;) {
        if (stopped && stopped()) return false;
        const std::uint32_t spent = os.GetTickCount() - start;
        if (spent >= limitMs) return false;
        const std::uint32_t wait = std::min(interval, limitMs - spent);
        const std::uint32_t asked = os.GetTickCount();
        os.PurgeComm(port.m_hPort, kPurgeInput); // what the restart sent is not the answer
        if (Send(port, CMD_REALTIME_STATUS) == CMD_REALTIME_STATUS.size()) {
            for (std::uint32_t used = 0; used < wait; used = os.GetTickCount() - asked) {
                std::uint8_t b = 0;
                if (port.ReadWithin(&b, 1, wait - used) != 1) break;
                if (IsStatusByte(b)) {
                    // Answers to the queries before it may still come: they are not the next reply's.
                    while (port.ReadWithin(&b, 1, kRestartFirstPollMs) == 1) {}
                    return true;
                }
            }
        }
        // A query the line did not take, or an answer that was not a status byte: the rest of the interval.
        if (const std::uint32_t used = os.GetTickCount() - asked; used < wait) os.Sleep(wait - used);
        interval = std::min(interval + interval / 4, kRestartLongestPollMs);
    }
}

} // namespace pw
