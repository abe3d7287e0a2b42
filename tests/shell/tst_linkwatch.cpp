// Clients that watch the main window's items: each new text, in order, and
// long texts (noise on the module's line) at a bounded pace.
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

#include "shell/LinkProtocol.h"
#include "support/RecordingWatcher.h"
#include "support/Rig.h"

using namespace dervix;
using namespace dervix::test;

class TestLinkWatch : public QObject {
    Q_OBJECT
private slots:
    void watchersFollowChanges();
    void longTextsArePaced_data();
    void longTextsArePaced();
};

// Each new text in the order the texts were set, a reply's handler emptying
// the slot included; nothing for a text set again or a caption that stays.
void TestLinkWatch::watchersFollowChanges() {
    Rig rig;
    rig.startAndAnswerCheck("1");
    auto link = std::make_unique<LinkProtocol>(*rig.w);
    Watcher replies, flows;
    QCOMPARE(link->handle("WATCH DervixResp", &replies), B("OK "));
    QCOMPARE(link->handle("WATCH label3", &replies), B("OK Flow Rate"));
    QCOMPARE(link->handle("WATCH txtFlowRate", &flows), B("OK 20"));
    QCOMPARE(link->handle("POKE txtDVXScmd STATUS", &flows), B("OK"));
    rig.serial.deliver("G1");
    rig.serial.deliver("OK\r\n");
    rig.w->Label3.setCaption("Flow Rate");
    rig.w->Label3.setCaption("Flow\\");
    QCOMPARE(replies.lines, (std::vector<std::string>{"CHANGED DervixResp G1", "CHANGED DervixResp G1OK\\r\\n",
                                                      "CHANGED DervixResp ", "CHANGED Label3 Flow\\\\"}));
    QCOMPARE(link->handle("POKE txtFlowRate 5", &replies), B("OK"));
    QCOMPARE(link->handle("POKE txtFlowRate 5", &replies), B("OK"));
    QCOMPARE(link->handle("UNWATCH TXTFLOWRATE", &flows), B("OK"));
    QCOMPARE(link->handle("POKE txtFlowRate 6", &flows), B("OK"));
    QCOMPARE(flows.lines, std::vector<std::string>{"CHANGED txtFlowRate 5"});
    // Either may go first.
    {
        Watcher gone;
        QCOMPARE(link->handle("WATCH txtFlowRate", &gone), B("OK 6"));
    }
    rig.w->txtFlowRate.setText("7");
    link.reset();
    rig.w->DervixResp.setText("x");
    QCOMPARE(replies.lines.size(), std::size_t(4));
    QVERIFY(!replies.watching());
}

void TestLinkWatch::longTextsArePaced_data() {
    // Texts placed in DervixResp one after another ('|' between them), a
    // '!' where the pacer fires; what the watcher is told, in order.
    QTest::addColumn<QString>("placed");
    QTest::addColumn<QString>("told");
    const QString noise1(40, 'a'), noise2(41, 'b'), noise3(42, 'c');
    QTest::newRow("short texts go at once") << "G1|G1OK\\r\\n||G1" << "G1|G1OK\\r\\n||G1";
    QTest::newRow("the first long text goes at once") << noise1 << noise1;
    QTest::newRow("later ones wait, the latest goes")
        << noise1 + "|" + noise2 + "|" + noise3 + "|!" << noise1 + "|" + noise3;
    QTest::newRow("nothing waiting, nothing told") << noise1 + "|!|!|" + noise2 << noise1 + "|" + noise2;
    QTest::newRow("a short text goes at once in the waiting one's place")
        << noise1 + "|" + noise2 + "|G1OK|!" << noise1 + "|G1OK";
    QTest::newRow("what went spaces out the next")
        << noise1 + "|" + noise2 + "|!|" + noise3 << noise1 + "|" + noise2;
    QTest::newRow("a 32-byte text is no long text") << QString(32, 'x') + "|" + QString(32, 'y')
                                                    << QString(32, 'x') + "|" + QString(32, 'y');
}

// Noise on the line changes the response slot with every byte: its long
// texts reach the watchers at a bounded pace, the latest one last.
void TestLinkWatch::longTextsArePaced() {
    QFETCH(QString, placed);
    QFETCH(QString, told);
    Rig rig;
    FakeTimer pacer;
    LinkProtocol link(*rig.w, &pacer);
    rig.w->DervixResp.setHandler([] {});
    Watcher watcher;
    QCOMPARE(link.handle("WATCH DervixResp", &watcher), B("OK "));
    for (const QString& text : placed.split('|')) {
        if (text == "!") pacer.fire();
        else rig.w->DervixResp.setText(*LinkUnescape(text.toStdString()));
    }
    std::vector<std::string> expected;
    for (const QString& text : told.split('|')) expected.push_back("CHANGED DervixResp " + text.toStdString());
    QCOMPARE(watcher.lines, expected);
}

QTEST_APPLESS_MAIN(TestLinkWatch)
#include "tst_linkwatch.moc"
