// The dialogs' printer sequences on a worker thread of the port's own device services, while the window
// stays live. A close of the window stops a sequence at its next safe point: the services are cut short
// (every wait ends, every read comes back empty, every command still goes out whole) and a read the worker
// is blocked in is woken, so the sequence runs to its end in moments, and one that entered user setting
// mode still ends it.
#pragma once

#include "framework/worker.h"
#include "link/interruptible_device_services.h"

#include <atomic>
#include <functional>
#include <string>

namespace pw {

class CDialog;
class CPrinterPort;

class PrinterWork final : public DialogWorkers {
  public:
    explicit PrinterWork(DeviceServices& services);

    // What the port runs over: the services given, cut short once a stop was asked for.
    DeviceServices& Services() { return m_cut; }

    // Runs `sequence` on a worker while `dlg` keeps its event loop (CDialog::RunWorker). False when the user
    // closed the window meanwhile: the sequence was stopped, its messages were not shown, and the close
    // follows once the handler has returned. False also when no worker could be started: nothing was sent,
    // and a message said so.
    bool Run(CDialog& dlg, const CPrinterPort& port, const std::function<void()>& sequence);

    // A message box on the user-interface thread, modal to the dialog; the sequence waits for it. Not
    // shown once the work is being stopped, even when the close came while the box waited its turn.
    static void Message(const std::string& text, unsigned type, const std::string& detail = {});

    std::uint64_t StartWorker(std::function<void()> body) override;
    void StopWorker(std::uint64_t worker) override;
    void JoinWorker(std::uint64_t worker) override;

  private:
    std::atomic<bool> m_stop{false};
    bool m_noThread = false; // the last StartWorker found none
    InterruptibleDeviceServices m_cut;
};

} // namespace pw
