// File dialogs as a framework service. The front end installs a presenter (a real dialog in the program,
// scripted answers in tests).
#pragma once

#include "framework/message_box.h"

#include <functional>
#include <string>

namespace pw {

constexpr unsigned OFN_OVERWRITEPROMPT = 0x00000002;
constexpr unsigned OFN_ENABLEHOOK = 0x00000020;
constexpr unsigned OFN_FILEMUSTEXIST = 0x00001000;
constexpr unsigned OFN_CREATEPROMPT = 0x00002000;
constexpr unsigned OFN_EXPLORER = 0x00080000;
constexpr unsigned OFN_LONGNAMES = 0x00200000;
constexpr unsigned OFN_ENABLESIZING = 0x00800000;

struct FileDialogRequest {
    bool open = true;
    std::string initialName;
    std::string filter; // "Description|pattern|..."
    std::string title;
    unsigned flags = 0;
};

struct FileDialogAnswer {
    int result = IDCANCEL;
    std::string path; // the full path chosen
};

using FileDialogPresenter = std::function<FileDialogAnswer(const FileDialogRequest&)>;
FileDialogPresenter SetFileDialogPresenter(FileDialogPresenter presenter);

class CFileDialog {
  public:
    CFileDialog(bool openFileDialog, const std::string& initialName, unsigned flags,
                const std::string& filter, const std::string& title);
    int DoModal();
    std::string GetPathName() const { return m_path; }
    // The chosen file's name without its folder.
    std::string GetFileName() const;
    const FileDialogRequest& Request() const { return m_request; }

  private:
    FileDialogRequest m_request;
    std::string m_path;
};

} // namespace pw
