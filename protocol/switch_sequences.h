// The main dialog's printer sequences at the byte level: the pre-check with the printer identification,
// reading switches 2, 9 and 1, and writing switches 1, 2 and 9 in user setting mode. The dialog supplies
// the progress bar and the refresh of its controls; everything else is here, testable without a window.
#pragma once

#include "link/printer_port.h"
#include "protocol/commands.h"
#include "settings/switch_model.h"

#include <string>

namespace pw {

// What a message means to the user; each front end shows it its own way (the dialogs as the box's icon).
enum class MessageKind {
    Warning,     // failures and warnings
    Information, // successes, and "Can't connect printer. Please restart printer."
};

// What a sequence needs of the window it runs in.
class SequenceView {
  public:
    virtual ~SequenceView() = default;
    virtual void SetProgressPos(int pos) = 0;
    virtual void StepProgress() = 0;
    virtual void RefreshControls() = 0;         // shows the members again (identity texts among them)
    virtual void SelectCodePage(int index) = 0; // the Default Code Page combo, at once
    // A message for the user, in the order the sequence meets it. The dialogs show a box; the CLI writes
    // a line.
    virtual void Message(const std::string& text, MessageKind kind) = 0;
};

// The main dialog's firmware and model texts, which the identification fills in.
struct PrinterIdentity {
    std::string& firmware; // empty: identification still to run
    std::string& model;
    std::string* maker = nullptr; // receives the maker text when given; the dialogs only compare it
};

constexpr const char* kExpectedMaker = "MERIDOX";
constexpr const char* kExpectedModelFamily = "LTX-58";
constexpr std::size_t kMaxIdentityText = 64;
constexpr int kMaxStrayBytes = 64;

constexpr const char* kCompanyMismatch = "This printer don't match our company name.";
constexpr const char* kPrinterMismatch = "This printer don't match our printer name.";
constexpr const char* kOtherCompanyProduct = "Don't use this program for other company product.";
constexpr const char* kCantConnect = "Can't connect printer. Please restart printer.";

// Said when a switch reply never came, or came cut short, and the sequence stopped.
constexpr const char* kPrinterDidNotAnswer =
    "The printer did not answer. Nothing was changed. Check the cable and the printer, then try again.";
// Said when a switch reply came but was not a switch reply.
constexpr const char* kBadSwitchReply =
    "The printer sent an unreadable memory switch reply. Nothing was changed; please try again.";
// Said when Set Status could not send every command whole.
constexpr const char* kSettingsNotWritten = "The settings were not written: the printer did not take every "
                                            "command. Check the connection and try again.";

// Reads an identity text reply one byte at a time after `initialWaitMs`, dropping every "_", stepping the
// progress bar once per byte read. The NUL ends the text, and so does a read that yields nothing (a silent
// printer gives an empty text); characters past the 64th are read and dropped.
void ReadIdentityText(CPrinterPort& port, std::string& text, std::uint32_t initialWaitMs, SequenceView& view);

// Identifies the printer once per connection (while the firmware text is empty): firmware, maker and
// model. 1: not needed or passed; 0: maker or model mismatch, after its warnings; -1: a query did not go
// out, so the line is down (nothing shown).
int IdentifyPrinter(CPrinterPort& port, int kind, PrinterIdentity& identity, SequenceView& view);

// 1 when the printer answered "." (after the identification, once per connection), 0 after the failure
// message.
int CheckPrinter(CPrinterPort& port, int kind, PrinterIdentity& identity, SequenceView& view);

enum class SequenceResult { Ok, NoAnswer, BadReply, NotWritten };

// What the user is told when a read or write sequence did not end Ok.
const char* SequenceFailureText(SequenceResult r);

// Reads switches 2, 9 and 1 and derives the selections into `out` (a copy of the model, changed only on
// Ok). Steps the progress bar 24 times (serial, parallel) or 29 (USB, network) and ends with the printer
// selected. `switch1`, when given, receives the eight characters of the switch 1 reply (pin 8 first) on Ok.
SequenceResult ReadSwitches(CPrinterPort& port, int kind, SwitchModel& out, SequenceView& view,
                            std::string* switch1 = nullptr);

// The three change commands as they will be sent.
Cmd<15> BuildSwitch1Command(const SwitchModel& m);
Cmd<15> BuildSwitch2Command(const SwitchModel& m);
Cmd<15> BuildSwitch9Command(const SwitchModel& m);

// Writes switches 1, 2 and 9 in user setting mode and selects the printer; 9 progress steps on success.
// User setting mode is always ended once it may have been entered.
SequenceResult WriteSwitches(CPrinterPort& port, const SwitchModel& m, SequenceView& view);

// How far a write got: how many of the change commands went out whole, and whether the command that ends
// user setting mode (which makes the printer take them) did.
struct WriteProgress {
    int changesSent = 0;
    bool modeEnded = false;
};

// The same with the change commands for switches 1, 2 and 9 given as they are to be sent.
SequenceResult WriteSwitches(CPrinterPort& port, const std::array<Cmd<15>, 3>& changes, SequenceView& view,
                             WriteProgress* progress = nullptr);

} // namespace pw
