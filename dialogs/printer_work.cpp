#include "dialogs/printer_work.h"

#include "framework/dialog.h"
#include "link/printer_port.h"

namespace pw {

PrinterWork::PrinterWork(DeviceServices& services) : m_cut(services, m_stop) {}

bool PrinterWork::Run(CDialog& dlg, const CPrinterPort&, const std::function<void()>& sequence) {
    m_stop.store(false);
    m_noThread = false;
    // The port's close lets the last commands (the end of user setting mode) leave the line, whatever
    // stopped the sequence.
    const bool finished = dlg.RunWorker(*this, sequence);
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
