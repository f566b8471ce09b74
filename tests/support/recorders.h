// Message boxes answered and recorded, for tests of every layer.
#pragma once

#include "framework/message_box.h"

#include <string>
#include <vector>

namespace pw::test {

struct ShownMessage {
    std::string text;
    unsigned type;
    std::string detail;
    bool operator==(const ShownMessage& o) const { return text == o.text && type == o.type; }
};

// Records every message box while alive.
class MessageRecorder {
  public:
    MessageRecorder();
    ~MessageRecorder();
    std::vector<ShownMessage> shown;
    std::vector<std::string> Texts() const;

  private:
    MessageBoxPresenter m_previous;
};

} // namespace pw::test
