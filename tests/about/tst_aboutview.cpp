// What the operator sees and does in the About box's window.
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "about/ui/AboutView.h"
#include "support/Rig.h"
#include "support/WidgetHelpers.h"

using namespace dervix;
using namespace dervix::test;

namespace {

// A module that answers STATUS and MODEL at once while the box loads.
struct PromptRig : Rig {
    std::string status = "G1S0\r\n";
    PromptRig() {
        startAndAnswerCheck();
        InstallAboutView(*w, nullptr);
        pump.onServe = [this] {
            const std::string frame = lastFrame();
            if (frame == "G1S\r\n") serial.deliver(status);
            else if (frame == "G1T\r\n") serial.deliver("G1AB\r\n");
        };
    }
};

QString Text(QWidget* dialog, const char* name) {
    auto* label = dialog->findChild<QLabel*>(name);
    return label ? label->text() : QString("<missing %1>").arg(name);
}

QStringList Texts(QWidget* dialog, std::initializer_list<const char*> names) {
    QStringList texts;
    for (const char* name : names) texts << Text(dialog, name);
    return texts;
}

}  // namespace

class TestAboutView : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void showsVersionAndModuleIdentity();
    void accessKeysSendTheDiagnostics();
    void replyTextIsNeverMarkup();
    void reopenedBoxStartsFromUnknown();
    void picturesLetTheDialogShowThrough();
};

void TestAboutView::showsVersionAndModuleIdentity() {
    PromptRig rig;
    rig.platform.version = Version{1, 2, 20};
    QString title;
    QStringList before, after, buttons;
    bool okDefault = false, pictures = false;
    WhenModal([&](QWidget* dialog) {
        title = dialog->windowTitle();
        before = Texts(dialog, {"lblTitle", "lblVersion", "Label3", "lblStatus", "Label2", "lblModel", "Label1",
                                "lblID"});
        for (const char* name : {"cmdHome", "cmdTest", "cmdOK"}) buttons << dialog->findChild<QPushButton*>(name)->text();
        okDefault = dialog->findChild<QPushButton*>("cmdOK")->isDefault();
        pictures = !dialog->findChild<QLabel*>("Image2")->pixmap().isNull() &&
                   !dialog->findChild<QLabel*>("Image3")->pixmap().isNull() && !Text(dialog, "lblDescription").isEmpty();
        rig.serial.deliver("G1X7\r\n");  // the identity arrives while the box shows
        after = Texts(dialog, {"lblID"});
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    rig.w->mnuAbout_Click();

    QCOMPARE(title, QString("Corvane Dervantix - About"));
    QCOMPARE(before, (QStringList{"R5270K Dervantix", "Version 1.2.20", "Status:", "G1S0", "Model:", "AB", "ID:",
                                  "Unknown"}));
    QCOMPARE(after, QStringList{"X7"});
    QCOMPARE(buttons, (QStringList{"&Home", "Self &Test", "OK"}));
    QVERIFY(okDefault);
    QVERIFY(pictures);
    QVERIFY(!rig.w->about.lblID());
    QCOMPARE(QApplication::topLevelWidgets().size(), 0);
}

void TestAboutView::accessKeysSendTheDiagnostics() {
    PromptRig rig;
    std::vector<std::string> sent;
    WhenModal([&](QWidget* dialog) {
        dialog->activateWindow();
        if (QTest::qWaitForWindowActive(dialog)) {
            // An access key presses its button visibly: the click follows a moment later.
            auto press = [&](Qt::Key key, const std::string& frame) {
                QTest::keyClick(dialog->windowHandle(), key, Qt::AltModifier);
                for (int i = 0; i < 200 && rig.lastFrame() != frame; ++i) QTest::qWait(5);
                sent.push_back(rig.lastFrame());
            };
            press(Qt::Key_T, "G1B\r\n");
            press(Qt::Key_H, "G1H\r\n");
        }
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    rig.w->mnuAbout_Click();
    QCOMPARE(sent, (std::vector<std::string>{"G1B\r\n", "G1H\r\n"}));
    QVERIFY(!rig.w->about.loaded());
}

void TestAboutView::replyTextIsNeverMarkup() {
    PromptRig rig;
    rig.status = "G1<b>hot</b>\r\n";
    QString status;
    Qt::TextFormat format = Qt::AutoText;
    WhenModal([&](QWidget* dialog) {
        auto* label = dialog->findChild<QLabel*>("lblStatus");
        status = label->text();
        format = label->textFormat();
        dialog->findChild<QPushButton*>("cmdOK")->click();
    });
    rig.w->mnuAbout_Click();
    QCOMPARE(status, QString("G1<b>hot</b>"));
    QCOMPARE(format, Qt::PlainText);
}

void TestAboutView::reopenedBoxStartsFromUnknown() {
    PromptRig rig;
    WhenModal([&](QWidget* dialog) {
        rig.serial.deliver("G1X7\r\n");
        dialog->findChild<QPushButton*>("cmdOK")->click();
    });
    rig.w->mnuAbout_Click();
    // Loading again resets the labels while no window is bound to them.
    rig.status = "G1S1\r\n";
    QStringList seen;
    WhenModal([&](QWidget* dialog) {
        seen = Texts(dialog, {"lblStatus", "lblModel", "lblID"});
        dialog->findChild<QPushButton*>("cmdOK")->click();
    });
    rig.w->mnuAbout_Click();
    QCOMPARE(seen, (QStringList{"G1S1", "AB", "Unknown"}));
}

void TestAboutView::picturesLetTheDialogShowThrough() {
    for (const QPixmap& picture : {AboutValvePicture(), AboutFlowPicture()}) {
        const QImage image = picture.toImage();
        // Nothing drawn in the corners, something drawn in the picture.
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
        QCOMPARE(image.pixelColor(image.width() - 1, image.height() - 1).alpha(), 0);
        int drawn = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y).alpha() == 255) ++drawn;
        QVERIFY(drawn > image.width());
    }
}

QTEST_MAIN(TestAboutView)
#include "tst_aboutview.moc"
