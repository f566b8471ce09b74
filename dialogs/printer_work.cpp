#include "dialogs/printer_work.h"

#include "framework/dialog.h"
#include "link/printer_port.h"

namespace pw {

PrinterWork::PrinterWork(DeviceServices& services) : m_cut(services, m_stop) {}

bool PrinterWork::Run(CDialog& dlg, const CPrinterPort&, const std::function<void()>& sequence) {
    m_stop.store(false);
    // The port's close lets the last commands (the end of user setting mode) leave the line, whatever
    // stopped the sequence.
    return dlg.RunWorker(*this, sequence);
}

void PrinterWork::Message(const std::string& text, unsigned type, const std::string& detail) {
    if (WorkerStopping()) return;
    CallOnUiThread([&] { AfxMessageBox(text, type, detail); });
}

std::uint64_t PrinterWork::StartWorker(std::function<void()> body) {
    return m_cut.StartThread(std::move(body));
}

void PrinterWork::StopWorker(std::uint64_t worker) {
    m_stop.store(true);
    m_cut.StopThread(worker);
}

void PrinterWork::JoinWorker(std::uint64_t worker) {
    m_cut.JoinThread(worker);
}

} // namespace pw
