// The application object: runs the main dialog modally and ends when it ends.
#pragma once

namespace pw {

class CSwitchApp {
  public:
    // Returns FALSE: the program ends without a message loop of its own.
    int InitInstance();
    void* m_pMainWnd = nullptr;
};

} // namespace pw
