// The fault switches file of the simulated board: each line switches its
// fault on the running models, a line removed clears it.
#include <QtTest>

#include "board/sim/sim_cards.h"
#include "board/sim/sim_faults.h"
#include "board/sim/sim_fpga.h"
#include "core/global.h"
#include "sim_fixture.h"

using board::sim::SimCards;
using board::sim::SimFaults;
using Fault = SimCards::Fault;

namespace
{
constexpr uint32_t kCsFpga = 0x207810;
constexpr uint32_t kCmdFpga = 0x207838;
constexpr uint32_t kIrqFpga = 0x207908;
} // namespace

class TestSimFaults : public QObject
{
    Q_OBJECT
    SimFixture sim_{true};
    int fd_ = -1;

    board::sim::SimFpga& fpga() { return *board::sim::simFpga(); }
    SimFaults& faults() { return *board::sim::simFaults(); }
    void switchTo(const QByteArray& text)
    {
        QVERIFY(writeHostFile(QString::fromStdString(faults().path()), text));
        faults().reload();
    }
    // One FPGA transaction as the driver makes it: command word, then data.
    void fpgaWrite(std::vector<uint8_t> cmd, uint8_t value)
    {
        auto& pads = sim_.board().simPads();
        pads.write16(kCsFpga, 0);
        pads.write16(kCmdFpga, 1);
        board::SpiXfer x;
        x.tx = cmd.data();
        x.len = uint32_t(cmd.size());
        QVERIFY(sim_.board().simSpi().transfer(fd_, &x, 1) > 0);
        pads.write16(kCmdFpga, 0);
        x.tx = &value;
        x.len = 1;
        QVERIFY(sim_.board().simSpi().transfer(fd_, &x, 1) > 0);
        pads.write16(kCsFpga, 1);
    }
    void writeReg(uint8_t r, uint8_t v) { fpgaWrite({0x04, 0, r, 0xFF}, v); }

  private slots:
    void initTestCase()
    {
        QCOMPARE(sim_.board().simPads().map(), 0);
        fd_ = sim_.board().simSpi().open("/dev/spidev32766.1");
        QVERIFY(fd_ >= 0);
    }

    void linesParse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected"); // vbo ram output input, card faults
        QTest::newRow("none") << QByteArray("# nothing\n\n") << "0000";
        QTest::newRow("fpga") << QByteArray("fpga vbo\nfpga ram\nfpga output\nfpga input\n") << "1111";
        QTest::newRow("one") << QByteArray("  fpga   output  # dark\n") << "0010";
        QTest::newRow("cards") << QByteArray("cards 1 silent\ncards 16 short\ncards 3 badcheck\ncards 2 delay 150\n")
                               << "0000 1:S 2:D150 3:B 16:T";
        QTest::newRow("bad lines skipped")
            << QByteArray("cards 0 silent\ncards 17 short\ncards 2 delay\ncards 2 delay -4\n"
                          "cards 2 loud\nfpga\nfpga nothing\nvbo\nclock\nclock ahead\nclock ahead -5\n"
                          "clock behind 5\nclock ahead 4294967296\n")
            << "0000";
        QTest::newRow("clock") << QByteArray("clock ahead 60001\n") << "0000 clock 60001";
    }

    void linesParse()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        SimFaults::Set s = SimFaults::parse(text.toStdString());
        QString got = QString("%1%2%3%4").arg(s.vbo).arg(s.ram).arg(s.output).arg(s.input);
        for (unsigned p = 0; p < SimCards::kPorts; ++p) {
            const char* kinds = "-SBTD";
            if (s.cards[p] != Fault::None)
                got += QString(" %1:%2").arg(p + 1).arg(kinds[int(s.cards[p])]);
            if (s.delay[p])
                got += QString::number(s.delay[p]);
        }
        if (s.clockAhead)
            got += QString(" clock %1").arg(s.clockAhead);
        QCOMPARE(got, expected);
    }

    // The program's clock jumps on by what the line adds; it never goes back.
    void clockMovesOnOnly()
    {
        G_timeTicks = 1000;
        switchTo("clock ahead 500\n");
        QCOMPARE(G_timeTicks.load(), 1500u);
        switchTo("clock ahead 200\n");
        switchTo("");
        QCOMPARE(G_timeTicks.load(), 1500u);
        switchTo("clock ahead 800\n");
        QCOMPARE(G_timeTicks.load(), 1800u);
    }

    void fpgaFaultsSwitchOnAndOff()
    {
        switchTo("");
        writeReg(3, 0xC0);
        writeReg(23, 0x01);
        QCOMPARE(fpga().reg(22) & 0x98, 0x90);

        switchTo("fpga vbo\n");
        QCOMPARE(fpga().reg(22) & 0x98, 0x08);
        switchTo("fpga output\n");
        QCOMPARE(fpga().reg(22) & 0x98, 0x10);
        switchTo("fpga ram\n");
        fpgaWrite({0x02, 1, 296 & 0xFF, 296 >> 8}, 0x55);
        QCOMPARE(fpga().ram(1, 296, 1), std::vector<uint8_t>{0x54});
        switchTo("");
        fpgaWrite({0x02, 1, 296 & 0xFF, 296 >> 8}, 0x55);
        QCOMPARE(fpga().ram(1, 296, 1), std::vector<uint8_t>{0x55});
        QCOMPARE(fpga().reg(22) & 0x98, 0x90);
    }

    void inputLostAndBackRaiseTheInterrupt()
    {
        switchTo("");
        writeReg(22, 0x00);
        QCOMPARE(sim_.board().simPads().read16(kIrqFpga), uint16_t(0));
        // Picked up by the next bus message, as on the running program.
        QVERIFY(writeHostFile(QString::fromStdString(faults().path()), "fpga input\n"));
        QCOMPARE(fpga().reg(31), uint8_t(36));
        writeReg(31, 0); // any message will do
        QCOMPARE(fpga().reg(31), uint8_t(0));
        QCOMPARE(fpga().reg(22) & 0x60, 0x60);
        QCOMPARE(sim_.board().simPads().read16(kIrqFpga), uint16_t(1));

        writeReg(22, 0x00);
        switchTo("# input back\n");
        QVERIFY(fpga().reg(31) >= 25 && fpga().reg(31) <= 48);
        QCOMPARE(fpga().reg(22) & 0x60, 0x60);
        QCOMPARE(sim_.board().simPads().read16(kIrqFpga), uint16_t(1));
    }

    void cardFaultsFollowTheFile()
    {
        SimCards& cards = *board::sim::simCards();
        switchTo("cards 3 silent\ncards 4 delay 150\n");
        QCOMPARE(cards.fault(2), Fault::Silent);
        QCOMPARE(cards.fault(3), Fault::Delayed);
        switchTo("cards 4 delay 150\n");
        QCOMPARE(cards.fault(2), Fault::None);
        QCOMPARE(cards.fault(3), Fault::Delayed);
        // A fault set by other means stays until the file speaks of it.
        cards.setFault(7, Fault::Short);
        switchTo("cards 4 badcheck\n");
        QCOMPARE(cards.fault(3), Fault::BadCheck);
        QCOMPARE(cards.fault(7), Fault::Short);
    }
};

QTEST_GUILESS_MAIN(TestSimFaults)
#include "test_sim_faults.moc"
