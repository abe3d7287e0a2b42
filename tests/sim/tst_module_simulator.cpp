// The simulated module: what it answers, to whom, when, and its faults.
#include <QtTest>

#include "devicelink/DeviceLink.h"
#include "simulator/ModuleSimulator.h"

using dervix::DeviceLink;
using dervix::sim::FeedResult;
using dervix::sim::ModuleSimulator;

namespace {

std::string Joined(const FeedResult& r) {
    std::string all;
    for (const auto& e : r.emissions) all += e.bytes;
    return all;
}

QByteArray Bytes(const std::string& s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

class TstModuleSimulator : public QObject {
    Q_OBJECT

private slots:
    void repliesPerCommand_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("delayMs");
        const int d = ModuleSimulator::kDefaultReplyDelayMs;
        QTest::newRow("start") << QByteArray("C") << QByteArray("G1C\r\n") << d;
        QTest::newRow("stop") << QByteArray("D") << QByteArray("G1D\r\n") << d;
        QTest::newRow("status") << QByteArray("S") << QByteArray("G1READY\r\n") << d;
        QTest::newRow("model") << QByteArray("T") << QByteArray("G1DVX-23\r\n") << d;
        QTest::newRow("identity") << QByteArray("%") << QByteArray("G1SN 40213\r\n") << d;
        QTest::newRow("self-test") << QByteArray("B") << QByteArray("G1B\r\n") << ModuleSimulator::kSelfTestMs;
        QTest::newRow("home") << QByteArray("H") << QByteArray("G1H\r\n") << ModuleSimulator::kHomeMs;
        QTest::newRow("split 7") << QByteArray("F7") << QByteArray("G1F7\r\n") << d;
        QTest::newRow("split 255") << QByteArray("F255") << QByteArray("G1F255\r\n") << d;
    }
    void repliesPerCommand() {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, reply);
        QFETCH(int, delayMs);
        ModuleSimulator sim;
        FeedResult r = sim.feed("G1" + body.toStdString() + "\r\n");
        QCOMPARE(r.frames.size(), std::size_t(1));
        QCOMPARE(r.frames[0], "G1" + body.toStdString());
        QCOMPARE(r.emissions.size(), std::size_t(1));
        QCOMPARE(r.emissions[0].delayMs, delayMs);
        QCOMPARE(Bytes(r.emissions[0].bytes), reply);
        QCOMPARE(sim.framesAnswered(), std::uint64_t(1));
    }

    void ignoredBodies_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("unknown letter") << QByteArray("G1X\r\n");
        QTest::newRow("no body") << QByteArray("G1\r\n");
        QTest::newRow("lower-case command") << QByteArray("G1c\r\n");
        QTest::newRow("split code too large") << QByteArray("G1F256\r\n");
        QTest::newRow("split code without digits") << QByteArray("G1F\r\n");
        QTest::newRow("split code with a blank") << QByteArray("G1F 7\r\n");
        QTest::newRow("two commands") << QByteArray("G1CD\r\n");
        QTest::newRow("lower-case head") << QByteArray("g1S\r\n");
        QTest::newRow("LF CR") << QByteArray("G1S\n\r");
        QTest::newRow("bare LF") << QByteArray("G1S\n");
    }
    void ignoredBodies() {
        QFETCH(QByteArray, frame);
        ModuleSimulator sim;
        FeedResult r = sim.feed(frame.toStdString());
        QVERIFY(r.emissions.empty());
        QCOMPARE(sim.framesAnswered(), std::uint64_t(0));
        QVERIFY(!sim.valveRunning());
        QCOMPARE(sim.splitCode(), -1);
    }

    // Address digits A-F double as command letters; only the exact prefix
    // followed by a whole known body counts.
    void addressFilter_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("0 own") << 0 << QByteArray("G0S\r\n") << QByteArray("G0READY\r\n");
        QTest::newRow("0 ignores 1") << 0 << QByteArray("G1S\r\n") << QByteArray();
        QTest::newRow("10 own") << 10 << QByteArray("GAS\r\n") << QByteArray("GAREADY\r\n");
        QTest::newRow("10 own start") << 10 << QByteArray("GAC\r\n") << QByteArray("GAC\r\n");
        QTest::newRow("10 ignores 0xAC") << 10 << QByteArray("GACC\r\n") << QByteArray();
        QTest::newRow("10 ignores 1") << 10 << QByteArray("G1S\r\n") << QByteArray();
        QTest::newRow("16 own") << 16 << QByteArray("G10%\r\n") << QByteArray("G10SN 40213\r\n");
        QTest::newRow("16 ignores 1") << 16 << QByteArray("G1%\r\n") << QByteArray();
        QTest::newRow("1 ignores 16") << 1 << QByteArray("G10S\r\n") << QByteArray();
        QTest::newRow("1 ignores 0x1C") << 1 << QByteArray("G1CC\r\n") << QByteArray();
        QTest::newRow("0x1C ignores 1's start") << 0x1C << QByteArray("G1C\r\n") << QByteArray();
        QTest::newRow("1 ignores 0x1F split") << 1 << QByteArray("G1FF7\r\n") << QByteArray();
        QTest::newRow("15 own split") << 15 << QByteArray("GFF7\r\n") << QByteArray("GFF7\r\n");
        QTest::newRow("255 own") << 255 << QByteArray("GFFT\r\n") << QByteArray("GFFDVX-23\r\n");
        QTest::newRow("lower-case address") << 10 << QByteArray("GaS\r\n") << QByteArray();
    }
    void addressFilter() {
        QFETCH(int, address);
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, reply);
        ModuleSimulator sim;
        sim.setAddress(address);
        FeedResult r = sim.feed(frame.toStdString());
        QCOMPARE(r.frames.size(), std::size_t(1));  // every frame is seen, answered or not
        QCOMPARE(Bytes(Joined(r)), reply);
    }

    void valveAndSplitState() {
        ModuleSimulator sim;
        auto status = [&sim] { return Joined(sim.feed("G1S\r\n")); };
        QCOMPARE(status(), std::string("G1READY\r\n"));
        sim.feed("G1C\r\n");
        QVERIFY(sim.valveRunning());
        QCOMPARE(status(), std::string("G1RUNNING\r\n"));
        sim.feed("G1H\r\n");
        QVERIFY(sim.valveRunning());
        sim.feed("G1B\r\n");
        QVERIFY(!sim.valveRunning());
        sim.feed("G1C\r\n");
        sim.feed("G1D\r\n");
        QCOMPARE(status(), std::string("G1READY\r\n"));
        sim.feed("G1F12\r\n");
        QCOMPARE(sim.splitCode(), 12);
        sim.feed("G1F300\r\n");
        QCOMPARE(sim.splitCode(), 12);
        sim.feed("G2F5\r\n");
        QCOMPARE(sim.splitCode(), 12);
    }

    void framesAcrossChunksAndNoise() {
        ModuleSimulator sim;
        QVERIFY(sim.feed("G1").emissions.empty());
        QVERIFY(sim.midFrame());
        QVERIFY(sim.feed("S\r").emissions.empty());
        FeedResult r = sim.feed("\nG1T\r\nG1");
        QCOMPARE(r.frames.size(), std::size_t(2));
        QCOMPARE(Joined(r), std::string("G1READY\r\nG1DVX-23\r\n"));
        QVERIFY(sim.midFrame());
        sim.feed("%\r\n");
        QVERIFY(!sim.midFrame());

        // A stream that never ends a line is dropped, and the next frame after
        // it is read cleanly.
        sim.feed(std::string(3 * ModuleSimulator::kMaxLine, 'x'));
        QVERIFY(sim.feed("\r\n").emissions.empty());
        QCOMPARE(Joined(sim.feed("G1S\r\n")), std::string("G1READY\r\n"));
        // Bytes of any value are taken as they come.
        QVERIFY(sim.feed(std::string("\0\xff\xfe\r\n", 5)).emissions.empty());
    }

    void silenceIgnoresEverything() {
        ModuleSimulator sim;
        sim.setSilent(true);
        FeedResult r = sim.feed("G1C\r\nG1F9\r\nG1S\r\n");
        QCOMPARE(r.frames.size(), std::size_t(3));
        QVERIFY(r.emissions.empty());
        QVERIFY(!sim.valveRunning());
        QCOMPARE(sim.splitCode(), -1);
        sim.setSilent(false);
        QCOMPARE(Joined(sim.feed("G1S\r\n")), std::string("G1READY\r\n"));
    }

    void extraDelay() {
        ModuleSimulator sim;
        sim.setExtraDelayMs(250);
        QCOMPARE(sim.feed("G1S\r\n").emissions.at(0).delayMs, ModuleSimulator::kDefaultReplyDelayMs + 250);
        QCOMPARE(sim.feed("G1H\r\n").emissions.at(0).delayMs, ModuleSimulator::kHomeMs + 250);
        sim.setExtraDelayMs(-5);
        QCOMPARE(sim.feed("G1S\r\n").emissions.at(0).delayMs, ModuleSimulator::kDefaultReplyDelayMs);
    }

    void splitReplies_data() {
        QTest::addColumn<int>("pieces");
        QTest::addColumn<int>("expectedPieces");
        QTest::newRow("whole") << 1 << 1;
        QTest::newRow("two") << 2 << 2;
        QTest::newRow("three") << 3 << 3;
        QTest::newRow("byte by byte") << 12 << 12;
        QTest::newRow("more pieces than bytes") << 40 << 12;
        QTest::newRow("zero means whole") << 0 << 1;
    }
    void splitReplies() {
        QFETCH(int, pieces);
        QFETCH(int, expectedPieces);
        ModuleSimulator sim;
        sim.setSplitPieces(pieces, 20);
        FeedResult r = sim.feed("G1SN\r\nG1%\r\n");  // the first is ignored
        QCOMPARE(r.emissions.size(), std::size_t(expectedPieces));
        QCOMPARE(Joined(r), std::string("G1SN 40213\r\n"));
        for (std::size_t i = 0; i < r.emissions.size(); ++i) {
            QVERIFY(!r.emissions[i].bytes.empty());
            QCOMPARE(r.emissions[i].delayMs, ModuleSimulator::kDefaultReplyDelayMs + 20 * static_cast<int>(i));
        }
    }

    // Stray bytes must keep every reply valid for the program's own filter,
    // wherever they land.
    void strayBytesKeepRepliesValid() {
        ModuleSimulator sim;
        sim.setStrayBytes(true);
        const std::string bodies[] = {"C", "D", "S", "T", "%", "F19"};
        for (int round = 0; round < 40; ++round) {
            const std::string& body = bodies[round % 6];
            ModuleSimulator clean;
            clean.setAddress(sim.address());
            const std::string expected = Joined(clean.feed("G1" + body + "\r\n"));
            const std::string sent = Joined(sim.feed("G1" + body + "\r\n"));
            QCOMPARE(sent.size(), expected.size() + 2);
            QVERIFY(sent.find('\x0f') != std::string::npos);
            QVERIFY(sent.find('\xe1') != std::string::npos);
            QCOMPARE(static_cast<unsigned char>(sent.back()), 254u);
            QCOMPARE(DeviceLink::FilterReplyBytes(sent), expected);
        }
    }

    void lowercaseCheck() {
        ModuleSimulator sim;
        sim.setLowercaseCheck(true);
        QCOMPARE(Joined(sim.feed("G1%\r\n")), std::string("g1SN 40213\r\n"));
        QCOMPARE(Joined(sim.feed("G1T\r\n")), std::string("G1DVX-23\r\n"));
        sim.setLowercaseCheck(false);
        QCOMPARE(Joined(sim.feed("G1%\r\n")), std::string("G1SN 40213\r\n"));
    }

    void faultsCombine() {
        ModuleSimulator sim;
        sim.setSplitPieces(2, 10);
        sim.setStrayBytes(true);
        sim.setExtraDelayMs(100);
        FeedResult r = sim.feed("G1S\r\n");
        QCOMPARE(r.emissions.size(), std::size_t(2));
        QCOMPARE(r.emissions[0].delayMs, ModuleSimulator::kDefaultReplyDelayMs + 100);
        QCOMPARE(r.emissions[1].delayMs, ModuleSimulator::kDefaultReplyDelayMs + 110);
        QCOMPARE(DeviceLink::FilterReplyBytes(Joined(r)), std::string("G1READY\r\n"));
    }
};

QTEST_GUILESS_MAIN(TstModuleSimulator)
#include "tst_module_simulator.moc"
