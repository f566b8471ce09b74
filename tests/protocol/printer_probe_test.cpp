// What answers on a network connection, on the virtual clock: a printer (its identity and status, and only
// status and identity queries sent), a listener that says nothing (one short wait), a web server (its
// text is no status byte), and printers whose replies are missing, late or in pieces.
#include "protocol/printer_probe.h"

#include "tests/support/scripted_printer.h"

#include <gtest/gtest.h>

using namespace pw;
using namespace pw::test;

namespace {

const Bytes kStatus1 = {0x10, 0x04, 0x01}, kStatus2 = {0x10, 0x04, 0x02}, kStatus3 = {0x10, 0x04, 0x03},
            kStatus4 = {0x10, 0x04, 0x04};

struct Probed : ::testing::Test {
    FakeDeviceServices os;
    FakeDevice& dev = os.AddDevice("tcp://10.0.0.7:9100");
    ScriptedPrinter printer{os, dev};
    CPrinterPort port{os};

    void SetUp() override {
        port.m_strPort = "tcp://10.0.0.7:9100";
        ASSERT_EQ(port.Open(), 1);
    }
    void AnswerStatus(std::uint8_t s1 = 0x16, std::uint8_t s2 = 0x12, std::uint8_t s3 = 0x12,
                      std::uint8_t s4 = 0x12) {
        printer.Always(kStatus1, {s1}, 2);
        printer.Always(kStatus2, {s2}, 2);
        printer.Always(kStatus3, {s3}, 2);
        printer.Always(kStatus4, {s4}, 2);
    }
    void AnswerIdentity() {
        printer.Always(kGsFirmware, IdentityReply("2.10"), 3);
        printer.Always(kGsMaker, IdentityReply("MERIDOX"), 3);
        printer.Always(kGsModelName, IdentityReply("LTX-580"), 3);
    }
};

TEST_F(Probed, APrinterIsAskedForItsIdentityAndStatusWithQueriesOnly) {
    AnswerStatus(0x16, 0x12, 0x12, 0x1E);
    AnswerIdentity();
    const PrinterProbe p = ProbePrinter(port);
    ASSERT_TRUE(p.printer) << p.notPrinter;
    EXPECT_EQ(p.firmware, "2.10");
    EXPECT_EQ(p.maker, "MERIDOX");
    EXPECT_EQ(p.model, "LTX-580");
    ASSERT_EQ(p.status.result, StatusRead::Ok) << StatusReadProblem(p.status);
    EXPECT_EQ(p.status.status.paper, Paper::NearEnd);
    // No ESC @ (it would clear a receipt being printed), no select, no GS a: queries, and these alone.
    EXPECT_EQ(printer.commands, (std::vector<Bytes>{kStatus1, kGsFirmware, kGsMaker, kGsModelName, kStatus1,
                                                    kStatus2, kStatus3, kStatus4}));
    EXPECT_LT(os.Elapsed(), 100u + 4 * kStatusQuietMs) << "a printer that answers at once is not waited for";
}

TEST_F(Probed, AListenerThatSaysNothingCostsOneShortWaitAndIsAskedNothingMore) {
    const std::uint32_t start = os.Elapsed();
    const PrinterProbe p = ProbePrinter(port);
    EXPECT_FALSE(p.printer);
    EXPECT_EQ(p.notPrinter, "no answer to DLE EOT 1 within 800 ms");
    EXPECT_GE(os.Elapsed() - start, kProbeStatusMs);
    EXPECT_LE(os.Elapsed() - start, kProbeStatusMs + 50) << "one wait, not the port's 5 s";
    EXPECT_EQ(printer.commands, (std::vector<Bytes>{kStatus1}));
    EXPECT_FALSE(p.firmware || p.maker || p.model);
}

TEST_F(Probed, AWebServersTextIsNoStatusByteEvenWhenItBeginsWithOneOfTheShape) {
    printer.Always(kStatus1, ToBytes("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"), 2);
    PrinterProbe p = ProbePrinter(port);
    EXPECT_FALSE(p.printer);
    EXPECT_EQ(p.notPrinter,
              "DLE EOT 1 was answered with 48 54 54 50 2F 31 2E 31 ..., not with one status byte");
    EXPECT_EQ(printer.commands, (std::vector<Bytes>{kStatus1}));

    // "220 ..." starts with 0x32, a byte of the status shape: a banner is more than one byte.
    printer.commands.clear();
    printer.Always(kStatus1, ToBytes("220 mail"), 2);
    p = ProbePrinter(port);
    EXPECT_FALSE(p.printer);
    EXPECT_EQ(p.notPrinter, "DLE EOT 1 was answered with 32 32 30 20 6D 61 69 6C, not with one status byte");
    EXPECT_EQ(printer.commands, (std::vector<Bytes>{kStatus1}));
}

TEST_F(Probed, OneByteOfAnotherShapeIsNoPrinter) {
    printer.Always(kStatus1, {0x10}, 2); // the DLE echoed back
    const PrinterProbe p = ProbePrinter(port);
    EXPECT_FALSE(p.printer);
    EXPECT_EQ(p.notPrinter, "DLE EOT 1 was answered with 10, not with one status byte");
}

TEST_F(Probed, AnIdentityTextNotSentIsNoneAndCostsOneTextsWait) {
    AnswerStatus();
    AnswerIdentity();
    printer.On(kGsMaker, [](int) { return std::optional<Answer>(); });
    const std::uint32_t start = os.Elapsed();
    const PrinterProbe p = ProbePrinter(port);
    ASSERT_TRUE(p.printer);
    EXPECT_EQ(p.firmware, "2.10");
    EXPECT_FALSE(p.maker.has_value());
    EXPECT_EQ(p.model, "LTX-580");
    EXPECT_EQ(p.status.result, StatusRead::Ok);
    EXPECT_GE(os.Elapsed() - start, kProbeTextMs);
    EXPECT_LE(os.Elapsed() - start, kProbeTextMs + 100 + 4 * kStatusQuietMs);
}

TEST_F(Probed, RepliesInPiecesAreTakenWholeAndATextWithoutItsNulEndsAtItsWait) {
    AnswerStatus();
    printer.Always(kGsFirmware, IdentityReply("2.10"), 3);
    printer.Always(kGsMaker, IdentityReply("MERIDOX"), 3);
    printer.Always(kGsModelName, ToBytes("_LTX-580"), 3); // no NUL
    printer.trickleMs = 40;
    const PrinterProbe p = ProbePrinter(port);
    ASSERT_TRUE(p.printer);
    EXPECT_EQ(p.firmware, "2.10");
    EXPECT_EQ(p.maker, "MERIDOX");
    EXPECT_EQ(p.model, "LTX-580");
    EXPECT_EQ(p.status.result, StatusRead::Ok) << "the model's missing NUL is not taken for a status";
}

TEST_F(Probed, ATextCutOffByItsWaitIsNotTakenNorItsRestReadAsTheNextReply) {
    AnswerStatus();
    AnswerIdentity();
    printer.trickleMs = 300; // "_2.10\0" takes 1.8 s, past the text's 1 s
    const PrinterProbe p = ProbePrinter(port);
    ASSERT_TRUE(p.printer);
    EXPECT_FALSE(p.firmware.has_value()) << *p.firmware;
    EXPECT_FALSE(p.maker.has_value()) << "no query after a cut-off text: " << *p.maker;
    EXPECT_FALSE(p.model.has_value());
    EXPECT_EQ(printer.Count(kGsMaker), 0);
    EXPECT_EQ(printer.Count(kGsModelName), 0);
}

TEST_F(Probed, APrinterWhoseStatusCannotBeReadIsAPrinterAllTheSame) {
    AnswerStatus();
    AnswerIdentity();
    printer.On(kStatus3, [](int) { return std::optional<Answer>(); });
    const PrinterProbe p = ProbePrinter(port);
    ASSERT_TRUE(p.printer);
    EXPECT_EQ(p.maker, "MERIDOX");
    EXPECT_EQ(p.status.result, StatusRead::NoAnswer);
    EXPECT_EQ(p.status.query, 3);
}

} // namespace
