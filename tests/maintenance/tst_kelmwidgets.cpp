// The badges as pictures, the menu bar adapter, and the maintenance
// dialog's window as the operator sees and works it.
#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "platform/qt/QtDesktop.h"
#include "maintenance/ui/KelmBadges.h"
#include "maintenance/ui/KelmView.h"
#include "maintenance/ui/QtMenuBadge.h"
#include "support/Rig.h"
#include "support/WidgetHelpers.h"

using namespace dervix;
using namespace dervix::test;

namespace {

int CountColour(const QImage& image, const QRect& area, QColor colour) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y).rgb() == colour.rgb()) ++count;
    return count;
}

// The main window's logic with the real menu bar adapter in place of the fake.
struct BadgeRig {
    Rig fakes;
    QtMenuBadge badge;
    Platform platform{fakes.profile, fakes.logFile, fakes.dialogs, fakes.serial, fakes.timer, fakes.clock,
                      fakes.pump,    fakes.screen,  badge,         fakes.process, fakes.devices,
                      fakes.reopenTimer, "/opt/dervix", Version{1, 0, 0}};
    FrmDervix w{platform};
};

struct KelmSeen {
    QString title, rotations, yellow, red, reset, ok;
    int barMax = -1, barValue = -1;
    bool okDefault = false;
    QRect rotationsPlace, resetPlace;
    int dpi = 0;
    bool cut = true;  // some label shows less than its text
};

KelmSeen Look(QWidget* dialog) {
    KelmSeen s;
    s.title = dialog->windowTitle();
    auto* rotations = dialog->findChild<QLabel*>("lblRotations");
    s.rotations = rotations->text();
    s.yellow = dialog->findChild<QLabel*>("lblYellow")->text();
    s.red = dialog->findChild<QLabel*>("lblRed")->text();
    auto* bar = dialog->findChild<QProgressBar*>("pbarKelm");
    s.barMax = bar->maximum();
    s.barValue = bar->value();
    auto* reset = dialog->findChild<QPushButton*>("cmdReset");
    auto* ok = dialog->findChild<QPushButton*>("cmdOK");
    s.reset = reset->text();
    s.ok = ok->text();
    s.okDefault = ok->isDefault();
    s.rotationsPlace = rotations->geometry();
    s.resetPlace = reset->geometry();
    s.dpi = dialog->logicalDpiX();
    s.cut = false;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        if (label->width() < label->sizeHint().width() || label->geometry().right() >= dialog->width()) s.cut = true;
    return s;
}

}  // namespace

class TestKelmWidgets : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void badgePictures_data();
    void badgePictures();
    void menuBadgeFollowsTheCounter();
    void menuBarShowsTheBadgePixelForPixel();
    void badgeShownAgainIsTheSamePicture();
    void dialogTextsAndPlaces();
    void barFullBeyondRed();
    void resetByAccessKey();
    void dialogFitsTheFont_data();
    void dialogFitsTheFont();
};

void TestKelmWidgets::badgePictures_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QColor>("field");
    QTest::addColumn<QColor>("bright");
    QTest::newRow("green") << "kelm-g" << QColor(0, 100, 0) << QColor(0, 255, 0);
    QTest::newRow("yellow") << "kelm-y" << QColor(128, 128, 0) << QColor(255, 255, 0);
    QTest::newRow("red") << "kelm-r" << QColor(128, 0, 0) << QColor(255, 0, 0);
}

void TestKelmWidgets::badgePictures() {
    QFETCH(QString, key);
    QFETCH(QColor, field);
    QFETCH(QColor, bright);
    const QImage image = KelmBadgePixmap(key.toStdString()).toImage();
    QCOMPARE(image.size(), QSize(33, 18));
    QVERIFY(!image.hasAlphaChannel());
    const QRect all = image.rect();
    const int fieldCount = CountColour(image, all, field);
    const int brightCount = CountColour(image, all, bright);
    const int blackCount = CountColour(image, all, Qt::black);
    // A field with details in both colours, and nothing else.
    QVERIFY2(fieldCount > all.width() * all.height() / 3, qPrintable(QString::number(fieldCount)));
    QVERIFY2(brightCount >= 40, qPrintable(QString::number(brightCount)));
    QVERIFY2(blackCount >= 40, qPrintable(QString::number(blackCount)));
    QCOMPARE(fieldCount + brightCount + blackCount, all.width() * all.height());
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::black));
}

void TestKelmWidgets::menuBadgeFollowsTheCounter() {
    QVERIFY(KelmBadgePixmap("kelm-x").isNull());
    BadgeRig rig;
    QVERIFY(!rig.badge.menuValid());  // no item handed over yet
    auto* item = new QAction("Kelm");
    int clicks = 0;
    QObject::connect(item, &QAction::triggered, [&clicks] { ++clicks; });
    rig.badge.setAction(item);
    QVERIFY(rig.badge.menuValid());

    rig.fakes.profile.write("Dervix", "Rotations", "1200000");
    rig.w.setKelmgraphic(rig.w.g.ValveRotations);
    QCOMPARE(rig.badge.shownKey(), std::string("kelm-y"));
    const QImage shown = item->icon().pixmap(QSize(33, 18)).toImage();
    QCOMPARE(shown.size(), QSize(33, 18));
    QCOMPARE(shown.convertToFormat(QImage::Format_RGB888),
             KelmBadgePixmap("kelm-y").toImage().convertToFormat(QImage::Format_RGB888));
    item->trigger();
    QCOMPARE(clicks, 1);  // still the maintenance command
    QVERIFY(rig.fakes.dialogs.boxes.empty());

    delete item;
    QVERIFY(!rig.badge.menuValid());
    rig.w.setKelmgraphic(rig.w.g.ValveRotations);
    QCOMPARE(rig.fakes.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(rig.fakes.dialogs.boxes[0].prompt, std::string("Menu handle invalid"));
}

void TestKelmWidgets::menuBarShowsTheBadgePixelForPixel() {
    QMenuBar bar;
    bar.setNativeMenuBar(false);
    ShowBadgeFullSize(&bar);
    bar.addMenu("&File");
    bar.addMenu("&Configuration");
    bar.addMenu("&About");
    QAction* item = bar.addAction("Kelm");
    QtMenuBadge badge(item);
    badge.show("kelm-r");
    bar.resize(400, bar.sizeHint().height());
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));

    const QRect place = bar.actionGeometry(item);
    QVERIFY2(place.width() >= 33 && place.height() >= 18,
             qPrintable(QString("%1 x %2").arg(place.width()).arg(place.height())));
    const QImage picture = KelmBadgePixmap("kelm-r").toImage();
    const QImage drawn = bar.grab().toImage().convertToFormat(QImage::Format_RGB888);
    QCOMPARE(CountColour(drawn, place, QColor(255, 0, 0)), CountColour(picture, picture.rect(), QColor(255, 0, 0)));
    QCOMPARE(CountColour(drawn, place, QColor(128, 0, 0)), CountColour(picture, picture.rect(), QColor(128, 0, 0)));
}

// Every STOP reply shows the badge again. The bar draws the item's icon
// through Qt's pixmap cache, keyed by the picture: a new picture each time
// made the program grow by a copy per run.
void TestKelmWidgets::badgeShownAgainIsTheSamePicture() {
    QMenuBar bar;
    QAction* item = bar.addAction("Kelm");
    QtMenuBadge badge(item);
    badge.show("kelm-g");
    const qint64 green = item->icon().cacheKey();
    const qint64 greenPicture = item->icon().pixmap(QSize(33, 18)).cacheKey();
    badge.show("kelm-y");
    const qint64 yellow = item->icon().cacheKey();
    QVERIFY(yellow != green);
    for (int i = 0; i < 3; ++i) {
        badge.show("kelm-g");
        QCOMPARE(item->icon().cacheKey(), green);
        QCOMPARE(item->icon().pixmap(QSize(33, 18)).cacheKey(), greenPicture);
        badge.show("kelm-y");
        QCOMPARE(item->icon().cacheKey(), yellow);
    }
    QCOMPARE(badge.shownKey(), std::string("kelm-y"));
    badge.show("kelm-x");  // no such picture: the item keeps what it shows
    QCOMPARE(item->icon().cacheKey(), yellow);
    QCOMPARE(badge.shownKey(), std::string("kelm-y"));
}

void TestKelmWidgets::dialogTextsAndPlaces() {
    Rig rig;
    rig.profile.write("Dervix", "Rotations", "1200");
    rig.w->setKelmgraphic(rig.w->g.ValveRotations);
    InstallKelmView(*rig.w, nullptr);
    KelmSeen seen;
    WhenModal([&](QWidget* dialog) {
        seen = Look(dialog);
        dialog->findChild<QPushButton*>("cmdOK")->click();
    });
    rig.w->mnuKelm_Click();
    QCOMPARE(seen.title, QString("Corvane Dervantix - Kelm"));
    QCOMPARE(seen.rotations, QString("Valve rotor has completed 1200 rotations"));
    QCOMPARE(seen.yellow, QString("Yellow warning at  1000000 valve rotations"));
    QCOMPARE(seen.red, QString("Red warning at  1500000 valve rotations"));
    QCOMPARE(seen.reset, QString("&Reset"));
    QCOMPARE(seen.ok, QString("OK"));
    QVERIFY(seen.okDefault);
    QCOMPARE(seen.barMax, ProgressBar::kSteps);
    QCOMPARE(seen.barValue, ProgressBar::kSteps / 1250);  // 1200 of 1500000
    QCOMPARE(seen.rotationsPlace.topLeft(), QPoint(TwipsToPixels(180, seen.dpi), TwipsToPixels(120, seen.dpi)));
    QCOMPARE(seen.resetPlace, QRect(TwipsToPixels(840, seen.dpi), TwipsToPixels(1740, seen.dpi),
                                    TwipsToPixels(915, seen.dpi), TwipsToPixels(375, seen.dpi)));
    QVERIFY(!seen.cut);
    QVERIFY(!rig.w->kelm.frmKelm.loaded());
}

void TestKelmWidgets::barFullBeyondRed() {
    Rig rig;
    rig.profile.write("Dervix", "KelmRed", "500");
    rig.profile.write("Dervix", "Rotations", "700");
    rig.w->setKelmgraphic(rig.w->g.ValveRotations);
    InstallKelmView(*rig.w, nullptr);
    KelmSeen seen;
    WhenModal([&](QWidget* dialog) {
        seen = Look(dialog);
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    rig.w->mnuKelm_Click();
    QCOMPARE(seen.barValue, seen.barMax);
    QVERIFY(!rig.w->kelm.frmKelm.loaded());
}

void TestKelmWidgets::resetByAccessKey() {
    Rig rig;
    rig.profile.write("Dervix", "Rotations", "1600000");
    rig.w->setKelmgraphic(rig.w->g.ValveRotations);
    rig.badge.shown.clear();
    rig.dialogs.inputs.push_back(std::string(" Reset "));
    InstallKelmView(*rig.w, nullptr);
    KelmSeen before, after;
    WhenModal([&](QWidget* dialog) {
        before = Look(dialog);
        // Access keys reach only the active window.
        dialog->activateWindow();
        if (QTest::qWaitForWindowActive(dialog)) {
            QTest::keyClick(dialog->windowHandle(), Qt::Key_R, Qt::AltModifier);
            // An access key presses the button visibly: the click follows a moment later.
            for (int i = 0; i < 200 && rig.dialogs.inputPrompts.empty(); ++i) QTest::qWait(5);
        }
        after = Look(dialog);
        QTest::keyClick(dialog, Qt::Key_Return);  // OK is the default
    });
    rig.w->mnuKelm_Click();
    QCOMPARE(before.barValue, before.barMax);
    QCOMPARE(rig.dialogs.inputPrompts.size(), std::size_t(1));
    QCOMPARE(after.rotations, QString("Valve rotor has completed 0 rotations"));
    QCOMPARE(after.barValue, 0);
    QCOMPARE(rig.profile.get("Rotations"), std::string("0"));
    QVERIFY(rig.badge.shown.empty());
    QVERIFY(!rig.w->kelm.frmKelm.loaded());
}

void TestKelmWidgets::dialogFitsTheFont_data() {
    QTest::addColumn<int>("points");
    QTest::newRow("9 pt") << 9;
    QTest::newRow("13 pt") << 13;
}

void TestKelmWidgets::dialogFitsTheFont() {
    QFETCH(int, points);
    DesktopFont font(points);
    Rig rig;
    rig.profile.write("Dervix", "Rotations", "1234567");
    rig.w->setKelmgraphic(rig.w->g.ValveRotations);
    InstallKelmView(*rig.w, nullptr);
    struct Control {
        QString name;
        QRect place;
        int needs;  // the height its text needs
    };
    std::vector<Control> seen;
    QRect dialogRect;
    WhenModal([&](QWidget* dialog) {
        dialogRect = dialog->rect();
        for (const char* name : {"lblRotations", "pbarKelm", "lblYellow", "lblRed", "cmdReset", "cmdOK"}) {
            auto* control = dialog->findChild<QWidget*>(name);
            const bool text = !qobject_cast<QProgressBar*>(control);
            seen.push_back({name, control->geometry(),
                            text ? std::max(control->sizeHint().height(), control->fontMetrics().height()) : 0});
        }
        dialog->findChild<QPushButton*>("cmdOK")->click();
    });
    rig.w->mnuKelm_Click();
    QCOMPARE(seen.size(), std::size_t(6));
    int labelsRight = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const Control& c = seen[i];
        QVERIFY2(dialogRect.contains(c.place), qPrintable(c.name));
        QVERIFY2(c.place.height() >= c.needs, qPrintable(c.name));
        // Top to bottom without overlapping; the two buttons share a row.
        if (i > 0 && i < 5) QVERIFY2(c.place.top() > seen[i - 1].place.bottom(), qPrintable(c.name));
        if (c.name.startsWith("lbl")) labelsRight = std::max(labelsRight, c.place.right());
    }
    QCOMPARE(seen[5].place.top(), seen[4].place.top());
    // The bar is as wide as the labels that tell what it measures.
    QCOMPARE(seen[1].place.left(), seen[0].place.left());
    QCOMPARE(seen[1].place.right(), labelsRight);
}

QTEST_MAIN(TestKelmWidgets)
#include "tst_kelmwidgets.moc"
