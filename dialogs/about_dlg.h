// The About box: the program's name, version and a notice line.
#pragma once

#include "framework/dialog.h"
#include "res/resource.h"

namespace pw {

class CAboutDlg : public CDialog {
  public:
    CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
};

} // namespace pw
