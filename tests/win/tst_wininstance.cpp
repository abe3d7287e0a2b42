// One instance per user: a second start learns that it is second, and once
// the first has ended a new one is first again.
#include <QtTest>

#include "platform/win/WinInstance.h"

using dervix::WinInstance;
using Outcome = dervix::WinInstance::Outcome;

// Not the program's own name, so a Dervix running meanwhile is no matter.
static const char* const kName = "Local\\DervixTest-Instance";

class TestWinInstance : public QObject {
    Q_OBJECT
private slots:
    void secondStart_data();
    void secondStart();
};

void TestWinInstance::secondStart_data() {
    QTest::addColumn<bool>("firstRuns");
    QTest::newRow("first runs") << true;
    QTest::newRow("first ended") << false;
}

void TestWinInstance::secondStart() {
    QFETCH(bool, firstRuns);
    WinInstance first;
    QCOMPARE(first.acquire(kName), Outcome::Acquired);
    if (!firstRuns) first.release();
    WinInstance next;
    QCOMPARE(next.acquire(kName), firstRuns ? Outcome::HeldElsewhere : Outcome::Acquired);
    QCOMPARE(next.held(), !firstRuns);
    QCOMPARE(next.error().empty(), !firstRuns);
    QCOMPARE(first.held(), firstRuns);  // the second start took nothing from the first
}

QTEST_APPLESS_MAIN(TestWinInstance)
#include "tst_wininstance.moc"
