// The one boundary that text from outside (printer replies, file and port names, sysfs, the system's
// messages) crosses before pinwright-cli prints it. On a terminal no byte may act: control bytes (C0, DEL,
// C1), the Unicode line separators and the bidirectional overrides are shown as \xHH, one escape a byte, as
// is every byte that is not part of valid UTF-8; a printer cannot clear the screen or start a line of its
// own. JSON output is plain ASCII: every character outside it is written as a \u escape, and a byte that is
// not part of valid UTF-8 becomes U+FFFD, so the output is always valid UTF-8 and nothing in it acts on a
// terminal either.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace pw::cli {

using Json = nlohmann::ordered_json;

// `text` as a terminal may show it on one line.
std::string ForTerminal(std::string_view text);

// Several lines of the program's own making (a usage message) whose parts may come from outside: each
// line as ForTerminal shows it, the line ends kept.
std::string LinesForTerminal(std::string_view text);

// `text` with every byte that is not part of valid UTF-8 replaced by U+FFFD; nothing else changes.
std::string ValidUtf8(std::string_view text);

// The JSON text of `j`, indented by two, in ASCII.
std::string JsonText(const Json& j);

} // namespace pw::cli
