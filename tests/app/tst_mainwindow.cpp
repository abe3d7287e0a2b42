// What the operator sees of the main window, on the offscreen platform.
#include <QtTest>
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <algorithm>
#include <map>
#include <memory>
#include <optional>

#include "about/ui/AboutView.h"
#include "app/MainWindow.h"
#include "config/ui/PropertiesView.h"
#include "maintenance/ui/KelmView.h"
#include "maintenance/ui/QtMenuBadge.h"
#include "split/ui/SplitGridWidget.h"
#include "support/Rig.h"
#include "support/TestText.h"
#include "support/WidgetHelpers.h"

using namespace dervix;
using namespace dervix::test;

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void captionAndMenu();
    void controlsFollowTheLogic();
    void buttonsDriveTheLogic();
    void startupGeometryIsAppliedAndCut();
    void keptOnScreenByItsRealSize_data();
    void keptOnScreenByItsRealSize();
    void gridFirstShowsTheChosenRow_data();
    void gridFirstShowsTheChosenRow();
    void controlsFitTheFont_data();
    void controlsFitTheFont();
    void everyControlHasAName();
};

namespace {

// Started as the program starts: the window is built before the logic loads,
// then placed, cut and shown.
struct Started {
    Rig rig;
    std::unique_ptr<MainWindow> mw;
    explicit Started(const std::map<std::string, std::string>& saved = {}) {
        rig.configure();
        for (const auto& [key, value] : saved) rig.profile.write("Dervix", key, value);
        mw = std::make_unique<MainWindow>(*rig.w);
        rig.w->Form_Load();
        mw->applyStartupGeometry();
        mw->show();
    }
    template <typename T>
    T* find(const char* name) const { return mw->findChild<T*>(name); }
    QRect inWindow(QWidget* control) const { return QRect(control->mapTo(mw.get(), QPoint(0, 0)), control->size()); }
};

// The program's own controls of a window that a screen reader would name
// nothing; the style's inner parts (scroll bars, viewports) are left out.
QStringList Unnamed(QWidget* window) {
    QStringList unnamed;
    for (QWidget* control : window->findChildren<QWidget*>()) {
        const QString name = control->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_"))) continue;
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(control);
        if (!spoken || spoken->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << name + " (" + control->metaObject()->className() + ")";
    }
    return unnamed;
}

}  // namespace

void MainWindowTest::captionAndMenu() {
    Rig rig;
    MainWindow mw(*rig.w);
    QCOMPARE(mw.windowTitle(), QStringLiteral("Corvane Dervantix"));
    const auto items = mw.menuBar()->actions();
    QCOMPARE(items.size(), 4);
    QCOMPARE(items[0]->text(), QStringLiteral("&Edit"));
    QCOMPARE(items[1]->text(), QStringLiteral("&Help"));
    QCOMPARE(items[2]->text(), QString());
    QCOMPARE(items[3]->text(), QStringLiteral("Kelm"));
    QCOMPARE(items[3], mw.badgeItem());
    const auto edit = items[0]->menu()->actions();
    QCOMPARE(edit.size(), 2);
    QCOMPARE(edit[0]->text(), QStringLiteral("&Configuration"));
    QCOMPARE(edit[1]->text(), QStringLiteral("E&xit"));
    QCOMPARE(items[1]->menu()->actions().at(0)->text(), QStringLiteral("&About"));
    QVERIFY(!mw.menuBar()->isNativeMenuBar());
}

void MainWindowTest::controlsFollowTheLogic() {
    Rig rig;
    MainWindow mw(*rig.w);
    auto* label3 = mw.findChild<QLabel*>("Label3");
    auto* label5 = mw.findChild<QLabel*>("Label5");
    auto* start = mw.findChild<QPushButton*>("cmdStart");
    auto* set = mw.findChild<QPushButton*>("cmdSetSplit");
    QVERIFY(label3 && label5 && start && set);
    QCOMPARE(label3->text(), QStringLiteral("Flow Rate"));
    QCOMPARE(label5->text(), QStringLiteral("mL/min"));
    QCOMPARE(set->text(), QStringLiteral("Se&t"));
    QCOMPARE(start->text(), QStringLiteral("&Start"));
    rig.w->cmdStart.setCaption("&Stop");
    rig.w->cmdStart.setEnabled(false);
    QCOMPARE(start->text(), QStringLiteral("&Stop"));
    QVERIFY(!start->isEnabled());
    for (const char* name : {"txtFlowRate", "DervixResp", "txtDVXScmd"}) QVERIFY(mw.findChild<QLineEdit*>(name));
}

void MainWindowTest::buttonsDriveTheLogic() {
    Rig rig;
    rig.startAndAnswerCheck();
    MainWindow mw(*rig.w);
    auto* start = mw.findChild<QPushButton*>("cmdStart");
    const auto frames = rig.serial.frames.size();
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(rig.serial.frames.size(), frames + 1);
    QCOMPARE(Q(rig.lastFrame()), QByteArray("G1C\r\n"));
    QVERIFY(!start->isEnabled());
}

void MainWindowTest::startupGeometryIsAppliedAndCut() {
    Rig rig;
    rig.configure();
    rig.profile.write("Dervix", "FormTop", " 1440");
    rig.profile.write("Dervix", "FormLeft", " 2880");
    rig.w->Form_Load();
    MainWindow mw(*rig.w);
    mw.applyStartupGeometry();
    auto* start = mw.findChild<QPushButton*>("cmdStart");
    auto* cmd = mw.findChild<QLineEdit*>("txtDVXScmd");
    const int startBottom = start->mapTo(&mw, QPoint(0, start->height())).y();
    QVERIFY(mw.height() >= startBottom);
    QVERIFY(cmd->mapTo(&mw, QPoint(0, 0)).y() >= mw.height());  // cut off below the buttons
    QCOMPARE(mw.pos(), QPoint(2880 / 15, 1440 / 15));
}

void MainWindowTest::keptOnScreenByItsRealSize_data() {
    QTest::addColumn<int>("points");
    QTest::addColumn<QString>("top");
    QTest::addColumn<QString>("left");
    QTest::addColumn<int>("later");  // the desktop's font while the window is shown; 0: unchanged
    QTest::newRow("beyond the right edge, 9 pt") << 9 << " 0" << " 60000" << 0;
    QTest::newRow("beyond the right edge, 13 pt") << 13 << " 0" << " 60000" << 0;
    QTest::newRow("beyond the bottom edge, 13 pt") << 13 << " 60000" << " 0" << 0;
    QTest::newRow("beyond both, 9 pt") << 9 << " 60000" << " 60000" << 0;
    QTest::newRow("beyond the bottom edge, 9 pt") << 9 << " 60000" << " 0" << 0;
    QTest::newRow("beyond both, 20 pt") << 20 << " 60000" << " 60000" << 0;
    QTest::newRow("in the corner at 9 pt, then 20 pt") << 9 << " 60000" << " 60000" << 20;
    QTest::newRow("at the right edge at 9 pt, then 20 pt") << 9 << " 0" << " 60000" << 20;
    QTest::newRow("at the bottom edge at 13 pt, then 20 pt") << 13 << " 60000" << " 0" << 20;
}

void MainWindowTest::keptOnScreenByItsRealSize() {
    QFETCH(int, points);
    QFETCH(QString, top);
    QFETCH(QString, left);
    QFETCH(int, later);
    DesktopFont font(points);
    Started s({{"FormTop", top.toStdString()}, {"FormLeft", left.toStdString()}});
    std::optional<DesktopFont> changed;
    if (later) {
        const QSize before = s.mw->size();
        changed.emplace(later);
        QCoreApplication::processEvents();  // the change reaches the widgets as an event
        QVERIFY(s.mw->width() > before.width() && s.mw->height() > before.height());
    }
    const QRect screen(0, 0, 19200 / 15, 11520 / 15);  // the rig's screen
    const QRect window = s.mw->frameGeometry();
    QVERIFY(window.size() != s.mw->size());  // framed, as on a desktop
    QVERIFY2(screen.contains(window), qPrintable(QString("%1,%2 %3x%4").arg(window.x()).arg(window.y())
                                                       .arg(window.width()).arg(window.height())));
    // Pulled back just far enough: the frame ends at the far edge, unless
    // the designed size is the larger.
    if (top.trimmed() != "0")
        QCOMPARE(window.top(), std::min(screen.height() - window.height(), (11520 - FrmDervix::kDesignHeight) / 15));
    if (left.trimmed() != "0")
        QCOMPARE(window.left(), std::min(screen.width() - window.width(), (19200 - FrmDervix::kDesignWidth) / 15));
}

void MainWindowTest::gridFirstShowsTheChosenRow_data() {
    QTest::addColumn<int>("points");
    QTest::addColumn<QString>("splitMult");  // empty: none saved, row 4
    QTest::addColumn<int>("chosen");
    QTest::addColumn<int>("firstShown");
    QTest::newRow("first start, 9 pt") << 9 << "" << 4 << 1;
    QTest::newRow("first start, 13 pt") << 13 << "" << 4 << 1;
    QTest::newRow("row 5, the last of the first view") << 9 << "66.667" << 5 << 1;
    QTest::newRow("row 10, 13 pt") << 13 << "200" << 10 << 6;
    QTest::newRow("the last row") << 9 << "3333.333" << 23 << 19;
}

void MainWindowTest::gridFirstShowsTheChosenRow() {
    QFETCH(int, points);
    QFETCH(QString, splitMult);
    QFETCH(int, chosen);
    QFETCH(int, firstShown);
    DesktopFont font(points);
    std::map<std::string, std::string> saved;
    if (!splitMult.isEmpty()) saved["SplitMult"] = splitMult.toStdString();
    Started s(saved);
    QVERIFY(QTest::qWaitForWindowExposed(s.mw.get()));
    auto* grid = s.find<SplitGridWidget>("vaSplit");
    QCOMPARE(grid->currentRow() + 1, chosen);
    QCOMPARE(grid->rowAt(0) + 1, firstShown);
    QCOMPARE(grid->rowAt(grid->viewport()->height() - 1) + 1, firstShown + 4);
}

void MainWindowTest::controlsFitTheFont_data() {
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("later");  // the desktop's font while the window is shown; 0: unchanged
    QTest::newRow("9 pt") << 9 << 0;
    QTest::newRow("13 pt") << 13 << 0;
    QTest::newRow("9 pt, then 15 pt while shown") << 9 << 15;
}

void MainWindowTest::controlsFitTheFont() {
    QFETCH(int, points);
    QFETCH(int, later);
    DesktopFont font(points);
    Started s;
    std::optional<DesktopFont> changed;
    if (later) {
        changed.emplace(later);
        QCoreApplication::processEvents();  // the change reaches the widgets as an event
        // Sized as a start-up with that font sizes it.
        Started fresh;
        QCOMPARE(s.mw->size(), fresh.mw->size());
    }
    const QRect window = s.mw->rect();
    for (const char* name : {"Label3", "txtFlowRate", "Label5", "vaSplit", "Line1", "cmdSetSplit", "cmdStart"})
        QVERIFY2(window.contains(s.inWindow(s.find<QWidget>(name))), name);
    for (const char* name : {"Label3", "txtFlowRate", "Label5", "cmdSetSplit", "cmdStart"}) {
        auto* control = s.find<QWidget>(name);
        QVERIFY2(control->height() >= control->fontMetrics().height(), name);
    }
    // The separator and the buttons span the grid as it is drawn.
    const QRect grid = s.inWindow(s.find<QWidget>("vaSplit"));
    const QRect line = s.inWindow(s.find<QWidget>("Line1"));
    QCOMPARE(line.left(), grid.left());
    QCOMPARE(line.right(), grid.right());
    QCOMPARE(s.inWindow(s.find<QWidget>("cmdSetSplit")).left(), grid.left());
    QCOMPARE(s.inWindow(s.find<QWidget>("cmdStart")).right(), grid.right());
    QVERIFY(s.inWindow(s.find<QWidget>("txtFlowRate")).bottom() < grid.top());
    QVERIFY(s.inWindow(s.find<QWidget>("cmdSetSplit")).top() > grid.bottom());
    for (const char* name : {"Label3", "Label5"})
        QVERIFY2(s.find<QWidget>(name)->width() >= s.find<QWidget>(name)->sizeHint().width(), name);
}

void MainWindowTest::everyControlHasAName() {
    Started s;
    QVERIFY2(Unnamed(s.mw.get()).isEmpty(), qPrintable(Unnamed(s.mw.get()).join(", ")));
    QCOMPARE(s.find<QWidget>("vaSplit")->accessibleName(), QString("Split ratios"));
    QCOMPARE(QAccessible::queryAccessibleInterface(s.find<QWidget>("txtFlowRate"))->text(QAccessible::Name),
             QString("Flow Rate"));

    // The menu bar's items (the spacer has no caption and no command), the
    // badge told in words and pressed as a menu item is.
    QtMenuBadge badge(s.mw->badgeItem());
    badge.describe("Yellow: 1234567 valve rotations");
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(s.mw->menuBar());
    QCOMPARE(bar->childCount(), 4);
    for (int i : {0, 1, 3}) QVERIFY(!bar->child(i)->text(QAccessible::Name).isEmpty());
    QAccessibleInterface* item = bar->child(3);
    QCOMPARE(item->text(QAccessible::Description), QString("Yellow: 1234567 valve rotations"));
    int opened = 0;
    QObject::connect(s.mw->badgeItem(), &QAction::triggered, [&opened] { ++opened; });
    QVERIFY(item->actionInterface());
    item->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(opened, 1);

    // The three dialogs, as the operator opens them.
    FrmDervix& w = *s.rig.w;
    InstallPropertiesView(w, s.mw.get());
    InstallKelmView(w, s.mw.get());
    InstallAboutView(w, s.mw.get());
    s.rig.serial.deliver("G1\r\n");  // the start-up CHECK answered
    s.rig.pump.onServe = [&s] {
        const std::string frame = s.rig.lastFrame();
        if (frame == "G1S\r\n") s.rig.serial.deliver("G1S0\r\n");
        else if (frame == "G1T\r\n") s.rig.serial.deliver("G1AB\r\n");
    };
    for (auto open : {&FrmDervix::mnuCfg_Click, &FrmDervix::mnuKelm_Click, &FrmDervix::mnuAbout_Click}) {
        QString unnamed = "never opened";
        WhenModal([&unnamed](QWidget* dialog) {
            unnamed = Unnamed(dialog).join(", ");
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        (w.*open)();
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed));
    }
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
