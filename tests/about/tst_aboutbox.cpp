// The About box against a fake module that answers while the box waits:
// the queries at load, the labels, the diagnostic buttons, late replies.
#include <QtTest>

#include <map>
#include <set>

#include "support/FakeViews.h"
#include "support/Rig.h"

using namespace dervix;
using namespace dervix::test;

namespace {

struct WaitRunsAway : std::runtime_error {
    WaitRunsAway() : std::runtime_error("the wait never ends") {}
};

// While events are served the module answers the last frame by its body
// letter, or stays silent until the response time runs out.
struct AboutRig : Rig {
    ScriptedViews<AboutBox> views;
    ScriptedViews<ConfigDialog> configViews;
    std::map<char, std::string> answers{{'S', "G1S0\r\n"}, {'T', "G1AB\r\n"}, {'%', "G1\r\n"}};
    std::set<char> silent;
    std::vector<std::size_t> framesAtServe;
    std::size_t openedAt = 0;

    AboutRig() {
        views.install(w->about);
        configViews.install(w->config);
        pump.onServe = [this] { serve(); };
    }
    void serve() {
        if (pump.serves > 100) throw WaitRunsAway();
        framesAtServe.push_back(serial.frames.size() - openedAt);
        const std::string frame = lastFrame();
        const char body = frame.size() > 2 ? frame[2] : '\0';
        if (silent.count(body)) return timer.fire();
        auto it = answers.find(body);
        if (it != answers.end()) serial.deliver(it->second);
    }
    // Opens the box from the menu; false when its wait would never end.
    bool open() {
        openedAt = serial.frames.size();
        try {
            w->mnuAbout_Click();
        } catch (const WaitRunsAway&) {
            return false;
        }
        return true;
    }
    std::vector<std::string> framesSinceOpen() const {
        return {serial.frames.begin() + static_cast<long>(openedAt), serial.frames.end()};
    }
    AboutBox& box() { return w->about; }
};

struct Shown {
    std::string version, status, model, id;
};

Shown Look(AboutBox& b) {
    return {b.lblVersion.caption(), b.statusLabel().caption(), b.modelLabel().caption(), b.idLabel().caption()};
}

}  // namespace

class TestAboutBox : public QObject {
    Q_OBJECT
private slots:
    void queriesInOrderAgainstAPromptModule();
    void replyTexts_data();
    void replyTexts();
    void silentStatusGoesThroughTheConfigurationDialog();
    void selfTestWhileRunningStopsTheRunFlag();
    void reopeningQueriesAgain();
    void replyAfterClosingIsDropped();
    void waitEndsWhenTheRequestCannotBeWritten();
    void openingAgainWhileLoadingIsRefused();
};

void TestAboutBox::queriesInOrderAgainstAPromptModule() {
    AboutRig rig;
    rig.startAndAnswerCheck();
    rig.platform.version = Version{1, 2, 20};
    Shown shown, afterId;
    std::vector<std::string> fixed;
    bool labelsWhileOpen = false;
    rig.views.scripts.push_back([&](AboutBox& b) {
        shown = Look(b);
        labelsWhileOpen = b.lblStatus() && b.lblModel() && b.lblID();
        fixed = {b.lblTitle.caption(), b.Label3.caption(), b.Label2.caption(), b.Label1.caption(),
                 b.cmdHome.caption(), b.cmdTest.caption(), b.cmdOK.caption()};
        rig.serial.deliver("G1X7\r\n");
        afterId = Look(b);
        b.cmdOK.click();
    });
    QVERIFY(rig.open());

    QCOMPARE(rig.framesSinceOpen(), (std::vector<std::string>{"G1S\r\n", "G1T\r\n", "G1%\r\n"}));
    // Each request went out only after the previous one was answered.
    QCOMPARE(rig.framesAtServe, (std::vector<std::size_t>{1, 2}));
    QCOMPARE(rig.views.opened, 1);
    QCOMPARE(shown.version, std::string("Version 1.2.20"));
    QCOMPARE(shown.status, std::string("G1S0"));
    QCOMPARE(shown.model, std::string("AB"));
    QCOMPARE(shown.id, std::string("Unknown"));
    QCOMPARE(afterId.id, std::string("X7"));
    QVERIFY(labelsWhileOpen);
    QCOMPARE(fixed, (std::vector<std::string>{"R5270K Dervantix", "Status:", "Model:", "ID:", "&Home",
                                              "Self &Test", "OK"}));
    QVERIFY(!rig.box().lblStatus());
    QVERIFY(!rig.box().lblModel());
    QVERIFY(!rig.box().lblID());
    QCOMPARE(rig.views.hides, 1);
    QVERIFY(rig.dialogs.boxes.empty());
}

void TestAboutBox::replyTexts_data() {
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<QString>("modelText");
    QTest::newRow("plain") << QByteArray("G1S0\r\n") << QByteArray("G1AB\r\n") << "G1S0" << "AB";
    QTest::newRow("one character") << QByteArray("OK\r\n") << QByteArray("G1X\r\n") << "OK" << "X";
    QTest::newRow("head only") << QByteArray("G1\r\n") << QByteArray("G1\r\n") << "G1" << "";
    QTest::newRow("line end only") << QByteArray("\r\n") << QByteArray("\r\n") << "" << "";
    QTest::newRow("filtered bytes") << QByteArray("G1\x0fS\r\xfe") << QByteArray("G1A\xe1" "B\r\n") << "G1S"
                                    << "AB";
}

void TestAboutBox::replyTexts() {
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, model);
    QFETCH(QString, statusText);
    QFETCH(QString, modelText);
    AboutRig rig;
    rig.startAndAnswerCheck();
    rig.answers['S'] = status.toStdString();
    rig.answers['T'] = model.toStdString();
    Shown shown;
    rig.views.scripts.push_back([&](AboutBox& b) { shown = Look(b); });
    QVERIFY(rig.open());
    QCOMPARE(QString::fromStdString(shown.status), statusText);
    QCOMPARE(QString::fromStdString(shown.model), modelText);
}

void TestAboutBox::silentStatusGoesThroughTheConfigurationDialog() {
    AboutRig rig;
    rig.startAndAnswerCheck();
    rig.silent = {'S'};
    rig.configViews.scripts.push_back([](ConfigDialog& d) { d.cmdOK.click(); });
    Shown shown;
    rig.views.scripts.push_back([&](AboutBox& b) { shown = Look(b); });
    QVERIFY(rig.open());

    std::vector<std::string> expected(16, "G1S\r\n");
    expected.insert(expected.end(), {"G1%\r\n", "G1F19\r\n", "G1T\r\n", "G1%\r\n"});
    QCOMPARE(rig.framesSinceOpen(), expected);
    QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(rig.dialogs.boxes[0].prompt, std::string("STATUS Timeout after  15 retries"));
    QCOMPARE(rig.dialogs.boxes[0].flags, MsgBox::Information);
    QCOMPARE(rig.configViews.opened, 1);
    QVERIFY(std::find(rig.profile.writes.begin(), rig.profile.writes.end(), "ErrorStatus=STATUS") !=
            rig.profile.writes.end());
    QCOMPARE(shown.status, std::string("Unknown"));
    QCOMPARE(shown.model, std::string("AB"));
    QCOMPARE(shown.id, std::string("Unknown"));
}

void TestAboutBox::selfTestWhileRunningStopsTheRunFlag() {
    AboutRig rig;
    rig.startAndAnswerCheck();
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Stop"));
    std::string testFrame, homeFrame, captionAfterTest;
    int testInterval = 0, homeInterval = 0;
    bool enabledAfterTest = false;
    rig.views.scripts.push_back([&](AboutBox& b) {
        b.cmdTest.click();
        testFrame = rig.lastFrame();
        testInterval = rig.timer.interval();
        rig.serial.deliver("G1\r\n");
        captionAfterTest = rig.w->cmdStart.caption();
        enabledAfterTest = rig.w->cmdStart.enabled();
        b.cmdHome.click();
        homeFrame = rig.lastFrame();
        homeInterval = rig.timer.interval();
        rig.serial.deliver("G1\r\n");
        b.cmdOK.click();
    });
    QVERIFY(rig.open());
    QCOMPARE(testFrame, std::string("G1B\r\n"));
    QCOMPARE(testInterval, 6000);
    QCOMPARE(captionAfterTest, std::string("&Start"));
    QVERIFY(enabledAfterTest);
    QCOMPARE(homeFrame, std::string("G1H\r\n"));
    QCOMPARE(homeInterval, 1500);
    QCOMPARE(rig.w->g.LinkState, std::string("READY"));
    for (const std::string& frame : rig.serial.frames) QVERIFY(frame != "G1D\r\n");
}

void TestAboutBox::reopeningQueriesAgain() {
    AboutRig rig;
    rig.startAndAnswerCheck();
    rig.views.scripts.push_back([&](AboutBox& b) {
        rig.serial.deliver("G1X7\r\n");
        b.cmdOK.click();
    });
    QVERIFY(rig.open());
    QCOMPARE(rig.box().idLabel().caption(), std::string("X7"));

    rig.answers['S'] = "G1S1\r\n";
    rig.answers['T'] = "G1CD\r\n";
    Shown shown;
    rig.views.scripts.push_back([&](AboutBox& b) {
        shown = Look(b);
        b.cmdOK.click();
    });
    QVERIFY(rig.open());
    QCOMPARE(rig.framesSinceOpen(), (std::vector<std::string>{"G1S\r\n", "G1T\r\n", "G1%\r\n"}));
    QCOMPARE(shown.status, std::string("G1S1"));
    QCOMPARE(shown.model, std::string("CD"));
    QCOMPARE(shown.id, std::string("Unknown"));
    QCOMPARE(rig.views.opened, 2);
}

void TestAboutBox::replyAfterClosingIsDropped() {
    AboutRig rig;
    rig.startAndAnswerCheck();
    rig.views.scripts.push_back([](AboutBox& b) { b.cmdOK.click(); });
    QVERIFY(rig.open());
    QCOMPARE(rig.w->g.LinkState, std::string("WAITING"));  // ID is still on its way

    rig.serial.deliver("G1X7\r\n");
    QVERIFY(!rig.box().lblID());
    QCOMPARE(rig.box().idLabel().caption(), std::string("Unknown"));
    QCOMPARE(rig.w->DervixResp.text(), std::string());
    QCOMPARE(rig.w->g.LinkState, std::string("READY"));
    QVERIFY(!rig.timer.isActive());
    QVERIFY(rig.dialogs.boxes.empty());
}

void TestAboutBox::waitEndsWhenTheRequestCannotBeWritten() {
    AboutRig rig;
    rig.startAndAnswerCheck();
    rig.w->cmdStart.click();  // START is awaited: the link waits, its timer runs
    QCOMPARE(rig.w->g.LinkState, std::string("WAITING"));
    rig.serial.failWrite = SerialError{1, "Device gone"};
    rig.silent = {'C'};
    rig.views.scripts.push_back([](AboutBox& b) { b.cmdOK.click(); });
    QVERIFY(rig.open());

    QCOMPARE(rig.views.opened, 1);
    // STATUS waits behind START, whose re-send fails and takes it along: a
    // failed send leaves the link ready, so MODEL and ID wait for nothing.
    QCOMPARE(rig.pump.serves, 1);
    QCOMPARE(rig.w->g.LinkState, std::string("READY"));
    // START's re-send, MODEL and ID failed; STATUS was never tried.
    QCOMPARE(rig.dialogs.boxes.size(), std::size_t(3));
    for (const ShownBox& box : rig.dialogs.boxes)
        QVERIFY(box.prompt.rfind("Error occurred while sending a command to the Corvane Dervantix\rDevice gone",
                                 0) == 0);
}

void TestAboutBox::openingAgainWhileLoadingIsRefused() {
    AboutRig rig;
    rig.startAndAnswerCheck();
    rig.pump.onServe = [&rig] {
        rig.w->mnuAbout_Click();  // the operator clicks About again meanwhile
        rig.serve();
    };
    rig.views.scripts.push_back([](AboutBox& b) { b.cmdOK.click(); });
    QVERIFY(rig.open());
    QCOMPARE(rig.views.opened, 1);
    QCOMPARE(rig.framesSinceOpen(), (std::vector<std::string>{"G1S\r\n", "G1T\r\n", "G1%\r\n"}));
}

QTEST_GUILESS_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
