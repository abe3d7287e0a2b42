// What the log gets of a line that streams bytes without ever ending a reply
// (another baud rate, a floating line): each piece once, so the log grows
// with the bytes received, not with their square.
#include <QtTest>

#include <string>

#include "support/Rig.h"
#include "support/TestText.h"

using namespace dervix;
using namespace dervix::test;

namespace {

// Bytes that never end a reply: every value but CR.
std::string Noise(std::size_t size, bool letters) {
    std::string noise;
    unsigned state = 12345;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        const auto byte = static_cast<unsigned char>(state >> 16);
        noise.push_back(letters ? static_cast<char>('a' + byte % 26) : static_cast<char>(byte == '\r' ? 0 : byte));
    }
    return noise;
}

std::size_t LogBytes(const std::vector<std::string>& lines) {
    std::size_t total = 0;
    for (const std::string& line : lines) total += line.size();
    return total;
}

}  // namespace

class NoiseLogTest : public QObject {
    Q_OBJECT
private slots:
    void logGrowsWithTheBytes_data();
    void logGrowsWithTheBytes();
};

void NoiseLogTest::logGrowsWithTheBytes_data() {
    QTest::addColumn<int>("chunk");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("letters");
    QTest::newRow("letters, byte by byte") << 1 << 2000 << true;
    QTest::newRow("any byte, byte by byte") << 1 << 2000 << false;
    QTest::newRow("any byte, 3 at a time") << 3 << 2000 << false;
    QTest::newRow("any byte, 16 at a time") << 16 << 2000 << false;
    QTest::newRow("past the slot's bound, 100 at a time") << 100 << 12000 << false;
}

void NoiseLogTest::logGrowsWithTheBytes() {
    QFETCH(int, chunk);
    QFETCH(int, size);
    QFETCH(bool, letters);
    Rig rig;
    rig.startAndAnswerCheck();
    rig.serial.deliver("G1\r\n");  // the split code's reply
    rig.w->g.LogEnabled = 1;
    rig.logFile.lines.clear();
    const std::string noise = Noise(static_cast<std::size_t>(size), letters);
    const auto step = static_cast<std::size_t>(chunk);
    // The log's bytes for each byte of the first half, then of the second.
    std::size_t half = 0, firstLog = 0;
    for (std::size_t at = 0; at < noise.size(); at += step) {
        if (half == 0 && at >= noise.size() / 2) {
            half = at;
            firstLog = LogBytes(rig.logFile.lines);
        }
        rig.serial.deliver(noise.substr(at, step));
    }
    const double firstHalf = double(firstLog) / double(half);
    const double secondHalf = double(LogBytes(rig.logFile.lines) - firstLog) / double(noise.size() - half);
    // Logged whole with each piece, each byte of the second half would cost
    // about three times one of the first.
    QVERIFY2(secondHalf <= firstHalf * 1.1, qPrintable(QString("%1 then %2 a byte").arg(firstHalf).arg(secondHalf)));

    // Up to a reply's length the slot is logged whole, as a reply is; past
    // it, each piece once, so every byte received is in the log.
    const std::size_t whole = (DeviceLink::kWholeSlotLogged / step + 1) * step;
    QCOMPARE(CountContaining(rig.logFile.lines, "DervixResp_Change "), int(whole / step - 1));
    std::string pieces;
    int dropped = 0;
    for (const std::string& line : rig.logFile.lines) {
        const std::size_t open = line.find("Receive - RSP=[(");
        if (open == std::string::npos) continue;
        const std::size_t from = line.find(") +", open) + 3, to = line.rfind("] ERR=[] EVN=[]\r\n");
        QVERIFY(from > 3 && to != std::string::npos && to >= from);
        pieces += line.substr(from, to - from);
        if (line.find(" dropped) +") != std::string::npos) ++dropped;
    }
    QCOMPARE(Q(pieces), Q(EventLog::OneLine(noise.substr(whole - step))));
    QCOMPARE(dropped > 0, noise.size() > DeviceLink::kMaxPendingReply);
    QCOMPARE(CountContaining(rig.logFile.lines, "Receive - overflow"), 0);
}

QTEST_GUILESS_MAIN(NoiseLogTest)
#include "tst_noiselog.moc"
