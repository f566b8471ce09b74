// The communication dialog: the user picks Serial, Parallel or USB and the line settings, checks that the
// printer answers, may print a self test, and starts the manager with "Run Manager". Owns the program's
// one printer port.
#pragma once

#include "dialogs/printer_work.h"
#include "framework/dialog.h"
#include "link/printer_port.h"

namespace pw {

class CCommDlg : public CDialog {
  public:
    explicit CCommDlg(DeviceServices& services = PlatformServices());

    // The worker of every printer sequence on the port, and the services the port runs over, which a close
    // of the window cuts short. Declared first: the port is built over it.
    PrinterWork m_printerWork;
    CPrinterPort m_port;
    CComboBox m_cbLptPort;
    CComboBox m_cbParity;
    CComboBox m_cbStopBits;
    CComboBox m_cbDataBits;
    CComboBox m_cbBaudRate;
    CComboBox m_cbComPort;
    int m_nInterface = kSerial;

    void EnableTestButtons(BOOL bEnable);
    void EnableInterfaceControls(int kind);

    void OnCheckCommunication();
    void OnSelfTest1();
    void OnSelfTest2();
    void OnInterfaceSerial();
    void OnInterfaceParallel();
    void OnInterfaceUsb();
    void OnSettingChanged();
    void OnRunManager();
    // The port items, the port boxes and "USB" say in their tooltips which device they stand for.
    void OnPortTips();

  protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    bool Dispatch(int id, int code) override;

  private:
    void OnInterface(int kind);
};

} // namespace pw
