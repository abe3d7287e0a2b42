// Local time by a Windows time zone's rules, for zones other than the
// machine's own, described as the system describes them.
#include <QtTest>

#include <chrono>

#include "platform/win/WinLocalTime.h"

class TestWinClock : public QObject {
    Q_OBJECT
private slots:
    void localTime_data();
    void localTime();
};

void TestWinClock::localTime_data() {
    QTest::addColumn<int>("bias");  // minutes west of UTC, as Windows counts
    QTest::addColumn<bool>("summerTime");
    QTest::addColumn<qint64>("epochMillis");
    QTest::addColumn<QString>("local");
    QTest::addColumn<int>("offset");
    const qint64 t = 1796595485LL * 1000;  // 2026-12-06 22:18:05 UTC
    QTest::newRow("five hours west") << 300 << false << t << "2026-12-06 17:18:05" << -18000;
    QTest::newRow("half-hour zone east") << -330 << false << t << "2026-12-07 03:48:05" << 19800;
    QTest::newRow("before 1970 rounds down") << 0 << false << qint64(-1500) << "1969-12-31 23:59:58" << 0;
    QTest::newRow("winter time") << -60 << true << t << "2026-12-06 23:18:05" << 3600;
    QTest::newRow("summer time") << -60 << true << 1782994685LL * 1000 << "2026-07-02 14:18:05" << 7200;
}

void TestWinClock::localTime() {
    QFETCH(int, bias);
    QFETCH(bool, summerTime);
    QFETCH(qint64, epochMillis);
    QFETCH(QString, local);
    QFETCH(int, offset);
    TIME_ZONE_INFORMATION zone{};
    zone.Bias = bias;
    if (summerTime) {  // Central Europe: last Sunday of March 02:00 to last Sunday of October 03:00
        zone.DaylightDate = SYSTEMTIME{0, 3, 0, 5, 2, 0, 0, 0};
        zone.StandardDate = SYSTEMTIME{0, 10, 0, 5, 3, 0, 0, 0};
        zone.DaylightBias = -60;
    }
    const dervix::LocalTime t =
        dervix::WinLocalTime(std::chrono::system_clock::time_point(std::chrono::milliseconds(epochMillis)), &zone);
    QCOMPARE(QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second),
             local);
    QCOMPARE(t.utcOffsetSeconds, offset);
}

QTEST_APPLESS_MAIN(TestWinClock)
#include "tst_winclock.moc"
