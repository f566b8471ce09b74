#include "dialogs/printer_work.h"

#include "framework/dialog.h"
#include "link/printer_port.h"

namespace pw {

namespace {
// Time for the longest command (15 bytes) and the select after it to leave a serial line, ten bits a byte.
std::uint32_t DrainMs(std::int32_t baud) {
    return baud > 0 ? static_cast<std::uint32_t>(10 * 18 * 1000 / baud + 20) : 20;
}
} // namespace

PrinterWork::PrinterWork(DeviceServices& services) : m_cut(services, m_stop) {}

bool PrinterWork::Run(CDialog& dlg, const CPrinterPort& port, const std::function<void()>& sequence) {
    m_stop.store(false);
    m_noThread = false;
    const bool finished = dlg.RunWorker(*this, [&] {
        sequence();
        // Closing a serial port throws away what the line has not sent: once stopped, the window's close
        // may follow at once, so let the last commands (the end of user setting mode) out first. No stop
        // cuts this wait.
        if (m_stop.load() && port.m_hPort != kNoDevice && port.m_nKind == kSerial)
            m_cut.Uncut().Sleep(DrainMs(port.m_nBaudRate));
    });
    if (m_noThread)
        AfxMessageBox("No thread could be started for this port; nothing was sent.", MB_ICONEXCLAMATION);
    return finished;
}

void PrinterWork::Message(const std::string& text, unsigned type, const std::string& detail) {
    if (WorkerStopping()) return;
    CallOnUiThread([&] {
        // The window may have been closed while the call waited for the window's thread.
        if (!WorkerStopping()) AfxMessageBox(text, type, detail);
    });
}

std::uint64_t PrinterWork::StartWorker(std::function<void()> body) {
    const std::uint64_t worker = m_cut.StartThread(std::move(body));
    m_noThread = worker == 0;
    return worker;
}

void PrinterWork::StopWorker(std::uint64_t worker) {
    m_stop.store(true);
    m_cut.StopThread(worker);
}

void PrinterWork::JoinWorker(std::uint64_t worker) {
    m_cut.JoinThread(worker);
}

} // namespace pw
