// The real-time status: every documented bit of DLE EOT 1 to 4 decoded to what it means, every byte of
// another shape refused, and the four queries on the line, on the virtual clock.
#include "protocol/printer_status.h"

#include "tests/support/fake_device_services.h"

#include <gtest/gtest.h>

#include <map>

using namespace pw;
using namespace pw::test;

namespace {

constexpr std::uint8_t kQuiet = 0x12; // the shape's own bits, nothing else

PrinterStatus Decoded(std::array<std::uint8_t, 4> replies) {
    PrinterStatus s;
    EXPECT_TRUE(DecodeRealTimeStatus(replies, s));
    return s;
}

TEST(PrinterStatus, EveryDocumentedBitOfEveryQueryMeansWhatItSaysAndNothingElse) {
    struct Bit {
        int query;
        std::uint8_t mask;
        PrinterStatus expected;
    };
    auto with = [](auto change) {
        PrinterStatus s;
        change(s);
        return s;
    };
    const Bit bits[] = {
        {1, 0x04, with([](PrinterStatus& s) { s.drawerOpen = true; })},
        {1, 0x08, with([](PrinterStatus& s) { s.online = false; })},
        {2, 0x04, with([](PrinterStatus& s) { s.coverOpen = true; })},
        {2, 0x08, with([](PrinterStatus& s) { s.feedButton = true; })},
        {2, 0x20, with([](PrinterStatus& s) { s.paper = Paper::Out; })},
        {2, 0x40, with([](PrinterStatus& s) { s.errors = {"unknown"}; })},
        {3, 0x08, with([](PrinterStatus& s) { s.errors = {"cutter"}; })},
        {3, 0x20, with([](PrinterStatus& s) { s.errors = {"unrecoverable"}; })},
        {3, 0x40, with([](PrinterStatus& s) { s.errors = {"auto-recoverable"}; })},
        {4, 0x04, with([](PrinterStatus& s) { s.paper = Paper::NearEnd; })},
        {4, 0x08, with([](PrinterStatus& s) { s.paper = Paper::NearEnd; })},
        {4, 0x0C, with([](PrinterStatus& s) { s.paper = Paper::NearEnd; })},
        {4, 0x20, with([](PrinterStatus& s) { s.paper = Paper::Out; })},
        {4, 0x40, with([](PrinterStatus& s) { s.paper = Paper::Out; })},
        {4, 0x6C, with([](PrinterStatus& s) { s.paper = Paper::Out; })}, // out wins over near end
    };
    EXPECT_EQ(Decoded({kQuiet, kQuiet, kQuiet, kQuiet}), PrinterStatus{});
    for (const Bit& b : bits) {
        std::array<std::uint8_t, 4> replies{kQuiet, kQuiet, kQuiet, kQuiet};
        replies[static_cast<std::size_t>(b.query - 1)] |= b.mask;
        EXPECT_EQ(Decoded(replies), b.expected) << "DLE EOT " << b.query << " bits " << int(b.mask);
    }
    // A printer stopped by an error names its cause in DLE EOT 3; "unknown" only stands in for none.
    const PrinterStatus all = Decoded({0x1E, 0x7E, 0x7A, 0x7E});
    EXPECT_EQ(all.errors, (std::vector<std::string>{"cutter", "unrecoverable", "auto-recoverable"}));
    EXPECT_TRUE(all.drawerOpen && all.coverOpen && all.feedButton && !all.online);
}

TEST(PrinterStatus, OnlyOfflineCoverOpenPaperOutOrAnErrorNeedAPersonNotNearEndFeedOrDrawer) {
    EXPECT_FALSE(Decoded({0x16, 0x1A, kQuiet, 0x1E}).NeedsAttention()); // drawer, feed button, near end
    EXPECT_TRUE(Decoded({0x1A, kQuiet, kQuiet, kQuiet}).NeedsAttention());
    EXPECT_TRUE(Decoded({kQuiet, 0x16, kQuiet, kQuiet}).NeedsAttention());
    EXPECT_TRUE(Decoded({kQuiet, kQuiet, kQuiet, 0x72}).NeedsAttention());
    EXPECT_TRUE(Decoded({kQuiet, kQuiet, 0x1A, kQuiet}).NeedsAttention());
}

TEST(PrinterStatus, AByteOfAnyOtherShapeInAnyPlaceIsRefusedNeverGuessed) {
    int refused = 0;
    for (int v = 0; v < 256; ++v) {
        const bool shaped = (v & 0x93) == 0x12;
        for (std::size_t at = 0; at < 4; ++at) {
            std::array<std::uint8_t, 4> replies{kQuiet, kQuiet, kQuiet, kQuiet};
            replies[at] = static_cast<std::uint8_t>(v);
            PrinterStatus s;
            s.coverOpen = true; // left alone on a refusal
            EXPECT_EQ(DecodeRealTimeStatus(replies, s), shaped) << v;
            if (!shaped) {
                EXPECT_TRUE(s.coverOpen);
                ++refused;
            }
        }
    }
    EXPECT_EQ(refused, (256 - 16) * 4);
}

// A printer on COM1 answering each DLE EOT n with its byte, or not at all.
struct StatusPrinter {
    FakeDeviceServices os;
    FakeDevice& com = os.AddDevice("COM1");
    CPrinterPort port{os};
    std::map<int, Bytes> answers{{1, {0x16}}, {2, {0x12}}, {3, {0x12}}, {4, {0x1E}}};
    std::vector<Bytes> asked;

    StatusPrinter() {
        com.onBytes = [this](FakeDevice& d, const Bytes& bytes) {
            asked.push_back(bytes);
            if (bytes.size() == 3 && bytes[0] == 0x10 && bytes[1] == 0x04 && answers.count(bytes[2]))
                d.ReplyAt(os.Now() + 5, answers[bytes[2]]);
        };
        port.m_nBaudRate = 9600;
        port.m_nByteSize = 8;
        EXPECT_EQ(port.Open(), 1);
    }
};

TEST(PrinterStatus, TheFourQueriesGoOutInTurnEachAfterTheLastReply) {
    StatusPrinter p;
    const StatusReading r = ReadPrinterStatus(p.port);
    ASSERT_EQ(r.result, StatusRead::Ok) << StatusReadProblem(r);
    EXPECT_EQ(p.asked, (std::vector<Bytes>{
                           {0x10, 0x04, 0x01}, {0x10, 0x04, 0x02}, {0x10, 0x04, 0x03}, {0x10, 0x04, 0x04}}));
    EXPECT_EQ(r.replies, (std::array<std::uint8_t, 4>{0x16, 0x12, 0x12, 0x1E}));
    EXPECT_EQ(r.status.paper, Paper::NearEnd);
    EXPECT_TRUE(r.status.drawerOpen);
    EXPECT_FALSE(r.status.NeedsAttention());
}

TEST(PrinterStatus, AQueryWithoutAnswerEndsTheReadingWithinItsWaitAndNamesTheQuery) {
    StatusPrinter p;
    p.answers.erase(3);
    const std::uint32_t start = p.os.Elapsed();
    const StatusReading r = ReadPrinterStatus(p.port, 700);
    EXPECT_EQ(r.result, StatusRead::NoAnswer);
    EXPECT_EQ(r.query, 3);
    EXPECT_EQ(p.asked.size(), 3u); // DLE EOT 4 not sent
    EXPECT_LE(p.os.Elapsed() - start, 700u + 2 * 5 + 50);
    EXPECT_GE(p.os.Elapsed() - start, 700u);
    EXPECT_EQ(StatusReadProblem(r), "the printer did not answer DLE EOT 3");
}

TEST(PrinterStatus, AWrongShapedReplyIsAnUnreadableReplyWithItsByte) {
    StatusPrinter p;
    p.answers[2] = {0x00};
    const StatusReading r = ReadPrinterStatus(p.port);
    EXPECT_EQ(r.result, StatusRead::BadReply);
    EXPECT_EQ(r.query, 2);
    EXPECT_EQ(StatusReadProblem(r), "the printer answered DLE EOT 2 with 0x00, which is no status byte");
}

// A status byte beyond its reply shifts every later reply by one; a stray before a reply takes its place.
// Either way the replies cannot be told apart, whichever query it came with.
TEST(PrinterStatus, AReplyOfMoreThanOneByteIsUnreadableWhereverItComes) {
    for (int query = 1; query <= 4; ++query) {
        StatusPrinter p;
        p.answers[query] = {p.answers[query][0], 0x1A}; // a second status-shaped byte
        const StatusReading r = ReadPrinterStatus(p.port);
        EXPECT_EQ(r.result, StatusRead::ExtraBytes) << query;
        EXPECT_EQ(r.query, query);
        EXPECT_EQ(r.badByte, 0x1A);
        EXPECT_EQ(p.asked.size(), static_cast<std::size_t>(query)) << "nothing asked after it";
        EXPECT_NE(StatusReadProblem(r).find("a byte too many (0x1A) by the reply to DLE EOT " +
                                            std::to_string(query)),
                  std::string::npos)
            << StatusReadProblem(r);
    }
    // The stray before the reply: read as the reply it displaces, then the real one is too many.
    StatusPrinter p;
    p.answers[3] = {0x12, 0x12};
    p.answers[1] = {0x16};
    const StatusReading r = ReadPrinterStatus(p.port);
    EXPECT_EQ(r.result, StatusRead::ExtraBytes);
    EXPECT_EQ(r.query, 3);
}

} // namespace

namespace {

TEST(PrinterStatus, TheSummarySaysEachThingThatNeedsAPersonAndNearEndAsAnAside) {
    EXPECT_EQ(StatusSummary(Decoded({0x16, 0x1A, kQuiet, kQuiet})), "ok");
    EXPECT_EQ(StatusSummary(Decoded({kQuiet, kQuiet, kQuiet, 0x1E})), "ok, paper near end");
    EXPECT_EQ(StatusSummary(Decoded({0x1A, 0x76, 0x3A, 0x72})),
              "needs attention: offline, cover open, paper out, cutter error, unrecoverable error");
    EXPECT_EQ(AttentionText(Decoded({kQuiet, 0x52, kQuiet, kQuiet})), "unknown error");
}

} // namespace
