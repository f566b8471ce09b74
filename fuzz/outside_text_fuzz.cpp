// Arbitrary bytes as a printer's identity texts, rendered as pinwright-cli does: the text output carries no
// byte that acts on a terminal and no line of the printer's own; the JSON is ASCII, parses, and gives
// valid UTF-8 strings.
#include "cli/outside_text.h"
#include "cli/render.h"
#include "fuzz/fuzz_check.h"

namespace {
// No C0 control but the line ends asked for, no DEL, no C1 control (U+0080..U+009F is C2 80..C2 9F).
bool Quiet(const std::string& text, bool lineEnds) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && !(lineEnds && c == '\n')) || c == 0x7F) return false;
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) return false;
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pw::cli;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string shown = ForTerminal(bytes);
    FUZZ_CHECK(Quiet(shown, false));
    // Every byte kept as it was is plain ASCII or part of valid UTF-8 that JSON takes.
    FUZZ_CHECK(Json::parse(JsonText(Json(shown))) == Json(shown));

    pw::cli::PortResult r;
    const std::size_t third = size / 3;
    r.port = "COM1";
    r.maker = bytes.substr(0, third);
    r.model = bytes.substr(third, third);
    r.firmware = bytes.substr(2 * third);
    r.haveState = true;
    const std::string text = RenderText({r}, Command::Get);
    FUZZ_CHECK(Quiet(text, true));
    std::size_t lines = 0;
    for (char c : text) lines += c == '\n';
    FUZZ_CHECK(lines == 14); // port, three texts, seven settings, three switches: none of the printer's
    const std::string json = RenderJson({r}, Command::Get);
    for (unsigned char c : json) FUZZ_CHECK(c < 0x80);
    const Json parsed = Json::parse(json);
    FUZZ_CHECK(parsed["maker"].get<std::string>().size() >= (r.maker.empty() ? 0 : 1));
    return 0;
}
