// The flow rate field and the split grid on screen, driven as the operator does.
#include <QtTest>
#include <QHeaderView>
#include <QScrollBar>
#include <QVBoxLayout>

#include "split/ui/FlowRateField.h"
#include "split/ui/SplitGridDelegate.h"
#include "split/ui/SplitGridWidget.h"
#include "support/Rig.h"

using namespace dervix;
using dervix::test::Rig;

namespace {

const QColor kGreen(0, 255, 0);

// The program started with no saved split, both widgets on a window.
struct OnScreen {
    Rig rig;
    QWidget host;
    FlowRateField* field;
    SplitGridWidget* grid;

    OnScreen() {
        rig.startAndAnswerCheck();
        auto* layout = new QVBoxLayout(&host);
        field = new FlowRateField(*rig.w, &host);
        grid = new SplitGridWidget(*rig.w, &host);
        layout->addWidget(field);
        layout->addWidget(grid);
        host.show();
    }
    QTableWidgetItem* cell(int row, int col) const { return grid->item(row - 1, col - 1); }
    QString ratio(int row) const { return cell(row, 1)->text(); }
    bool marked(int row) const { return cell(row, 1)->data(SplitGridDelegate::kRecommendedRole).toBool(); }
    // What is painted inside a cell of the given row, away from text and frame.
    QColor paintedBackground(int row) const {
        grid->scrollToItem(cell(row, 2));
        const QRect r = grid->visualItemRect(cell(row, 2));
        const QImage image = grid->viewport()->grab().toImage();
        return image.pixelColor(r.left() + 4, r.center().y());
    }
    // Dark pixels in the room kept for the check mark in front of the ratio.
    int markPixels(int row) const {
        grid->scrollToItem(cell(row, 1));
        const QRect r = grid->visualItemRect(cell(row, 1));
        const int gutter = SplitGridDelegate::markWidth(grid->fontMetrics());
        const QImage image = grid->viewport()->grab().toImage();
        int dark = 0;
        for (int x = r.left() + 2; x < r.left() + gutter - 1; ++x)
            for (int y = r.top() + 3; y < r.bottom() - 2; ++y)
                if (image.pixelColor(x, y).lightness() < 100) ++dark;
        return dark;
    }
    void doubleClick(int row) {
        grid->scrollToItem(cell(row, 2));
        const QPoint at = grid->visualItemRect(cell(row, 2)).center();
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
    }
    void retype(const QString& keys) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, keys);
    }
};

}  // namespace

class SplitWidgetsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void whatTheOperatorSees();
    void typingAndPicking();
    void editsKeepTheCursor();
    void longestRatioIsShownInFull();
    void gridFilledWhileHiddenIsCurrentWhenShown();
    void enterKeys_data();
    void enterKeys();
    void followsTheFont_data();
    void followsTheFont();
};

void SplitWidgetsTest::whatTheOperatorSees() {
    OnScreen s;
    QVERIFY(QTest::qWaitForWindowExposed(&s.host));
    QCOMPARE(s.field->text(), QString("20"));
    QCOMPARE(s.grid->horizontalHeaderItem(0)->text(), QString("Split Ratio"));
    QCOMPARE(s.grid->horizontalHeaderItem(2)->text(), QString("Vol(nL)"));
    QCOMPARE(s.ratio(1), QString(" 500:1"));
    QCOMPARE(s.cell(12, 2)->text(), QString("0.625"));
    // Code and multiplier stay readable though hidden.
    QVERIFY(s.grid->isColumnHidden(3) && s.grid->isColumnHidden(4));
    QVERIFY(!s.grid->isColumnHidden(0) && !s.grid->isColumnHidden(1) && !s.grid->isColumnHidden(2));
    QCOMPARE(s.cell(1, 4)->text(), QString("3"));
    QCOMPARE(s.cell(23, 5)->text(), QString("3333.333"));
    // Static cells, one whole row selected, row 4 applied and active.
    QCOMPARE(s.grid->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(!(s.cell(1, 1)->flags() & Qt::ItemIsEditable));
    QCOMPARE(s.grid->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(s.grid->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(s.grid->currentRow(), 3);
    QVERIFY(!s.grid->verticalHeader()->isVisible());
    for (int r = 1; r <= 23; ++r)
        QCOMPARE(s.cell(r, 1)->background().color(), r == 4 ? kGreen : QColor(Qt::white));
    QCOMPARE(s.paintedBackground(4), kGreen);
    QCOMPARE(s.paintedBackground(5), QColor(Qt::white));
    // Three columns and five rows in view, a vertical scroll bar for the rest.
    QCOMPARE(s.grid->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(s.grid->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(s.grid->verticalScrollBar()->maximum() > 0);
    QCOMPARE(s.grid->viewport()->height(), 5 * s.grid->rowHeight(0));
    QCOMPARE(s.grid->viewport()->width(), s.grid->columnWidth(0) + s.grid->columnWidth(1) + s.grid->columnWidth(2));
    QVERIFY(s.grid->columnWidth(1) >= 6 * s.grid->characterWidth());
    QVERIFY(s.grid->columnWidth(2) >= 5 * s.grid->characterWidth());
    // Recommended rows at 20 mL/min: 1 to 17, bold with a check mark.
    for (int r = 1; r <= 23; ++r) {
        QCOMPARE(s.marked(r), r <= 17);
        QCOMPARE(s.cell(r, 2)->font().bold(), r <= 17);
    }
    QVERIFY(s.markPixels(17) > 5);
    QCOMPARE(s.markPixels(18), 0);
}

void SplitWidgetsTest::typingAndPicking() {
    OnScreen s;
    QVERIFY(QTest::qWaitForWindowExposed(&s.host));
    s.retype("5a,- ");
    QCOMPARE(s.field->text(), QString("5"));
    QCOMPARE(s.rig.w->txtFlowRate.text(), std::string("5"));
    QCOMPARE(s.ratio(1), QString(" 125:1"));
    QCOMPARE(s.ratio(23), QString(" 16666:1"));
    QVERIFY(s.marked(21) && !s.marked(22));
    QCOMPARE(s.rig.profile.get("FlowRate"), std::string("5"));
    QTest::keyClick(s.field, Qt::Key_Backspace);
    QCOMPARE(s.field->text(), QString());
    QCOMPARE(s.ratio(1), QString(" 0:1"));
    QTest::keyClicks(s.field, "2.5");
    QCOMPARE(s.ratio(1), QString(" 62:1"));
    QCOMPARE(s.rig.profile.get("FlowRate"), std::string("2.5"));

    // Double click picks row 20.
    s.doubleClick(20);
    QCOMPARE(s.rig.lastFrame(), std::string("G1F57\r\n"));
    QCOMPARE(s.rig.profile.get("SplitCode"), std::string("57"));
    QCOMPARE(s.cell(20, 1)->background().color(), kGreen);
    QCOMPARE(s.cell(4, 1)->background().color(), QColor(Qt::white));
    QCOMPARE(s.paintedBackground(20), kGreen);
    QCOMPARE(s.paintedBackground(4), QColor(Qt::white));

    // Enter picks the selected row.
    s.grid->setFocus();
    QTest::keyClick(s.grid, Qt::Key_Up);
    QCOMPARE(s.grid->currentRow(), 18);
    QTest::keyClick(s.grid, Qt::Key_Return);
    QCOMPARE(s.rig.lastFrame(), std::string("G1F48\r\n"));
    QCOMPARE(s.cell(19, 1)->background().color(), kGreen);
    QCOMPARE(s.cell(20, 1)->background().color(), QColor(Qt::white));

    // A flow out of range: the message, and "0" selected in the field.
    s.retype("150");
    QCOMPARE(s.rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(s.rig.dialogs.boxes[0].prompt, std::string("Flow rate must be between 0 and 100 mL/min"));
    QCOMPARE(s.field->text(), QString("0"));
    QCOMPARE(s.field->selectedText(), QString("0"));
    QCOMPARE(s.ratio(19), QString(" 0:1"));

    // While the valve runs the grid refuses the pick.
    s.rig.w->cmdStart.click();
    s.rig.serial.deliver("G1\r\n");
    const std::size_t frames = s.rig.serial.frames.size();
    s.doubleClick(7);
    QCOMPARE(s.rig.serial.frames.size(), frames);
    QCOMPARE(s.rig.dialogs.boxes.back().prompt, std::string("Cannot change split ratio while splitter is running!"));
    QCOMPARE(s.cell(19, 1)->background().color(), kGreen);
    QCOMPARE(s.cell(7, 1)->background().color(), QColor(Qt::white));
}

void SplitWidgetsTest::editsKeepTheCursor() {
    OnScreen s;
    s.field->setFocus();
    s.field->setCursorPosition(1);
    QTest::keyClick(s.field, Qt::Key_Period);
    QCOMPARE(s.field->text(), QString("2.0"));
    QCOMPARE(s.field->cursorPosition(), 2);
    QCOMPARE(s.rig.w->txtFlowRate.text(), std::string("2.0"));
    // A change made by the program, such as a link client's, shows at once.
    s.rig.w->txtFlowRate.setText("12");
    QCOMPARE(s.field->text(), QString("12"));
    QCOMPARE(s.ratio(1), QString(" 300:1"));
    // Delete and the editing shortcuts are not typed characters.
    s.field->setCursorPosition(0);
    QTest::keyClick(s.field, Qt::Key_Delete);
    QCOMPARE(s.field->text(), QString("2"));
    QTest::keyClick(s.field, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(s.field->selectedText(), QString("2"));
}

void SplitWidgetsTest::gridFilledWhileHiddenIsCurrentWhenShown() {
    // As the program starts: the window is built, then start-up fills the
    // table and picks the saved row before anything is shown.
    Rig rig;
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    auto* grid = new SplitGridWidget(*rig.w, &host);
    layout->addWidget(grid);
    rig.startAndAnswerCheck();
    rig.w->txtFlowRate.setText("12");
    const QSize measuredHidden = grid->sizeHint();
    host.show();
    QCOMPARE(grid->rowCount(), rig.w->vaSplit.rows());
    QCOMPARE(grid->item(0, 0)->text(), QString(" 300:1"));
    QCOMPARE(grid->currentRow(), rig.w->vaSplit.activeRow() - 1);
    QCOMPARE(grid->sizeHint(), measuredHidden);
}

void SplitWidgetsTest::longestRatioIsShownInFull() {
    OnScreen s;
    QVERIFY(QTest::qWaitForWindowExposed(&s.host));
    s.retype("100");
    QCOMPARE(s.ratio(23), QString(" 333333:1"));
    const int margin = s.grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, s.grid) + 1;
    const int gutter = SplitGridDelegate::markWidth(s.grid->fontMetrics());
    QFont bold = s.grid->font();
    bold.setBold(true);
    for (int r = 1; r <= 23; ++r) {
        s.grid->scrollToItem(s.cell(r, 1));
        const int room = s.grid->visualItemRect(s.cell(r, 1)).width() - gutter - 2 * margin;
        QVERIFY2(QFontMetricsF(bold).horizontalAdvance(s.ratio(r)) <= room, qPrintable(s.ratio(r)));
    }
}

void SplitWidgetsTest::enterKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("picks");
    QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier) << true;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << true;
    QTest::newRow("Shift+Return") << int(Qt::Key_Return) << int(Qt::ShiftModifier) << false;
    QTest::newRow("Ctrl+keypad Enter") << int(Qt::Key_Enter) << int(Qt::ControlModifier | Qt::KeypadModifier)
                                       << false;
}

void SplitWidgetsTest::enterKeys() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, picks);
    OnScreen s;
    QVERIFY(QTest::qWaitForWindowExposed(&s.host));
    s.grid->setFocus();
    QTest::keyClick(s.grid, Qt::Key_Down);
    QCOMPARE(s.grid->currentRow(), 4);
    const std::size_t frames = s.rig.serial.frames.size();
    QTest::keyClick(s.grid, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(s.rig.serial.frames.size(), frames + (picks ? 1 : 0));
    if (picks) QCOMPARE(QString::fromStdString(s.rig.lastFrame()), "G1F" + s.cell(5, 4)->text() + "\r\n");
    QCOMPARE(s.cell(5, 1)->background().color(), picks ? kGreen : QColor(Qt::white));
}

void SplitWidgetsTest::followsTheFont_data() {
    QTest::addColumn<double>("scale");
    QTest::addColumn<QString>("flow");  // typed after the change; empty: none
    QTest::addColumn<QString>("family");  // empty: the host's own
    QTest::newRow("twice as large") << 2.0 << "" << "";
    QTest::newRow("larger, then other rows marked") << 1.5 << "1" << "";
    // Letters as wide as digits: the headings are longer than their columns'
    // figures. The install step brings the font, so the row runs everywhere.
    QTest::newRow("twice as large, fixed pitch") << 2.0 << "" << "DejaVu Sans Mono";
}

void SplitWidgetsTest::followsTheFont() {
    QFETCH(double, scale);
    QFETCH(QString, flow);
    QFETCH(QString, family);
    OnScreen s;
    QVERIFY(QTest::qWaitForWindowExposed(&s.host));
    const int before = s.grid->columnWidth(1);
    QFont changed = s.host.font();
    changed.setPointSizeF(changed.pointSizeF() * scale);
    if (!family.isEmpty()) {
        changed.setFamily(family);
        QVERIFY2(QFontInfo(changed).family() == family, qPrintable(family + " is not installed"));
    }
    s.host.setFont(changed);
    if (!flow.isEmpty()) s.retype(flow);
    QVERIFY(s.grid->columnWidth(1) > before);
    QVERIFY(s.grid->columnWidth(1) >= 6 * s.grid->characterWidth());
    QCOMPARE(s.grid->viewport()->height(), 5 * s.grid->rowHeight(0));
    QCOMPARE(s.grid->viewport()->width(), s.grid->columnWidth(0) + s.grid->columnWidth(1) + s.grid->columnWidth(2));
    // Every heading whole.
    const QHeaderView* header = s.grid->horizontalHeader();
    const int margins = 2 * s.grid->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int c = 0; c < 3; ++c)
        QVERIFY(s.grid->columnWidth(c) >= header->fontMetrics().horizontalAdvance(s.grid->horizontalHeaderItem(c)->text()) + margins);
    // Every cell in the new font, the marked rows in its bold.
    for (int r = 1; r <= 23; ++r) {
        for (int c = 1; c <= 3; ++c) {
            const QFont shown = s.cell(r, c)->font();
            QCOMPARE(shown.pointSizeF(), changed.pointSizeF());
            QCOMPARE(shown.bold(), s.marked(r));
        }
    }
}

QTEST_MAIN(SplitWidgetsTest)
#include "tst_splitwidgets.moc"
