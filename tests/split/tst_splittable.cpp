// The preset table and the grid laid out from it.
#include <QtTest>
#include <cmath>
#include <set>

#include "split/SplitGrid.h"
#include "split/SplitTable.h"
#include "support/Rig.h"

using namespace dervix;
using dervix::test::Rig;

class SplitTableTest : public QObject {
    Q_OBJECT

private slots:
    void tableHoldsTheModulesPresets();
    void rowTexts_data();
    void rowTexts();
    void gridLayout();
    void hiddenColumnsKeepTheirTexts();
    void redrawOffHoldsBackNotifications();
    void rowAttributes();
    void activeCellMoves();
    void outsideTheGridIsRefused();
};

void SplitTableTest::tableHoldsTheModulesPresets() {
    SplitTable table{};
    FillSplitTable(table);
    std::set<int> codes;
    std::set<double> multipliers;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const SplitEntry& e = table[i];
        QVERIFY2(e.Code >= 1 && e.Code <= 59, qPrintable(QString("entry %1").arg(i)));
        codes.insert(e.Code);
        multipliers.insert(e.Multiplier);
        if (i > 0) QVERIFY(table[i - 1].Multiplier < e.Multiplier);
        // The multiplier is the inlet flow over the flow the valve carries.
        const double carried = e.LoopVol * 1e-6 * e.ValveFreq * 60;
        QVERIFY2(std::fabs(1 / carried - e.Multiplier) / e.Multiplier < 1e-4, qPrintable(QString("entry %1").arg(i)));
        // A switching period of 0.45 s to 4.4 s, the frequency rounded to five decimals.
        QVERIFY(e.ValveFreq >= 1 / 4.4f - 1e-5f && e.ValveFreq <= 1 / 0.45f + 1e-5f);
    }
    QCOMPARE(codes.size(), kSplitEntries);
    QCOMPARE(multipliers.size(), kSplitEntries);
    QCOMPARE(table[0].Multiplier, 25.0);
    QCOMPARE(table[1].Multiplier, 33.333);
    QCOMPARE(table[22].Multiplier, 3333.333);
    QCOMPARE(table[0].ValveFreq, 2.22222f);
    QCOMPARE(table[3].ValveFreq, 1.11111f);
    QCOMPARE(int(table[3].Code), 2);
    QCOMPARE(int(table[19].Code), 57);
    QCOMPARE(int(table[13].LoopVol), 22);
}

void SplitTableTest::rowTexts_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("freq");
    QTest::addColumn<QString>("vol");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("mult");
    QTest::newRow("row 1") << 1 << "2.222" << "300" << "3" << "25.000";
    QTest::newRow("row 2, three decimals") << 2 << "1.667" << "300" << "10" << "33.333";
    QTest::newRow("row 6") << 6 << "2.000" << "100" << "7" << "83.333";
    QTest::newRow("row 12") << 12 << "0.625" << "100" << "27" << "266.667";
    QTest::newRow("row 18") << 18 << "0.588" << "22" << "36" << "1287.879";
    QTest::newRow("row 23") << 23 << "0.227" << "22" << "55" << "3333.333";
}

void SplitTableTest::rowTexts() {
    QFETCH(int, row);
    Rig rig;
    rig.w->split.InitSplitTable();
    const SplitGrid& grid = rig.w->vaSplit;
    QCOMPARE(QString::fromStdString(grid.text(1, row)), QString());
    QTEST(QString::fromStdString(grid.text(2, row)), "freq");
    QTEST(QString::fromStdString(grid.text(3, row)), "vol");
    QTEST(QString::fromStdString(grid.text(4, row)), "code");
    QTEST(QString::fromStdString(grid.text(5, row)), "mult");
}

void SplitTableTest::gridLayout() {
    Rig rig;
    rig.w->split.InitSplitTable();
    const SplitGrid& grid = rig.w->vaSplit;
    QCOMPARE(grid.columns(), 5);
    QCOMPARE(grid.rows(), 23);
    const char* headings[] = {"Split Ratio", "Freq(Hz)", "Vol(nL)", "Code", "Multiplier"};
    const double widths[] = {7, 6, 5, 4, 9};
    for (int c = 1; c <= 5; ++c) {
        QCOMPARE(grid.text(c, 0), std::string(headings[c - 1]));
        QCOMPARE(grid.columnWidth(c), widths[c - 1]);
        QCOMPARE(grid.columnHidden(c), c >= 4);
    }
    QVERIFY(!grid.rowHeadersShown());
    QCOMPARE(grid.scrollBars(), ScrollBars::Vertical);
    QCOMPARE(grid.selectionMode(), SelectionMode::SingleRow);
    QVERIFY(grid.staticText());
    QCOMPARE(grid.visibleColumns(), 3);
    QCOMPARE(grid.visibleRows(), 5);
    QVERIFY(grid.autoSize());
    QVERIFY(grid.redraw());
    for (int r = 1; r <= 23; ++r) {
        QVERIFY(grid.backColor(r) == kWhite);
        QVERIFY(!grid.recommended(r));
    }
}

void SplitTableTest::hiddenColumnsKeepTheirTexts() {
    Rig rig;
    rig.w->split.InitSplitTable();
    const SplitGrid& grid = rig.w->vaSplit;
    const SplitTable& table = rig.w->split.table();
    for (int r = 1; r <= 23; ++r) {
        QVERIFY(grid.columnHidden(4) && grid.columnHidden(5));
        QCOMPARE(std::stoi(grid.text(4, r)), int(table[r - 1].Code));
        QCOMPARE(std::stod(grid.text(5, r)), table[r - 1].Multiplier);
    }
}

void SplitTableTest::redrawOffHoldsBackNotifications() {
    SplitGrid grid;
    int notified = 0;
    grid.setObserver([&] { ++notified; });
    grid.setDimensions(5, 23);
    QCOMPARE(notified, 1);
    grid.setRedraw(false);
    for (int r = 1; r <= 23; ++r) grid.setText(1, r, "x");
    grid.setBackColor(SplitGrid::kAll, kPureGreen);
    QCOMPARE(notified, 1);
    grid.setRedraw(true);
    QCOMPARE(notified, 2);
    grid.setRedraw(true);  // already on: nothing held back
    QCOMPARE(notified, 2);
    grid.setText(1, 1, "y");
    QCOMPARE(notified, 3);

    // Laying out the whole grid shows once.
    Rig rig;
    int layouts = 0;
    rig.w->vaSplit.setObserver([&] { ++layouts; });
    rig.w->split.InitSplitTable();
    QCOMPARE(layouts, 1);
}

void SplitTableTest::rowAttributes() {
    SplitGrid grid;
    grid.setDimensions(5, 23);
    grid.setBackColor(7, kPureGreen);
    grid.setRecommended(3, true);
    for (int r = 1; r <= 23; ++r) {
        QCOMPARE(grid.backColor(r) == kPureGreen, r == 7);
        QCOMPARE(grid.recommended(r), r == 3);
    }
    grid.setBackColor(SplitGrid::kAll, kWhite);
    grid.setRecommended(SplitGrid::kAll, true);
    for (int r = 1; r <= 23; ++r) {
        QVERIFY(grid.backColor(r) == kWhite);
        QVERIFY(grid.recommended(r));
    }
}

void SplitTableTest::activeCellMoves() {
    SplitGrid grid;
    grid.setDimensions(5, 23);
    QCOMPARE(grid.activeRow(), 1);
    QCOMPARE(grid.activeCol(), 1);
    const unsigned before = grid.activeCellMoves();
    grid.operatorSelects(2, 9);
    QCOMPARE(grid.activeRow(), 9);
    QCOMPARE(grid.activeCol(), 2);
    QCOMPARE(grid.activeCellMoves(), before);
    grid.setActiveCell(1, 12);
    QCOMPARE(grid.activeRow(), 12);
    QCOMPARE(grid.activeCellMoves(), before + 1);

    int picked = 0, pickedRow = 0;
    grid.setPickHandler([&](int, int row) { ++picked; pickedRow = row; });
    grid.pick(1, 12);
    QCOMPARE(picked, 1);
    QCOMPARE(pickedRow, 12);
}

void SplitTableTest::outsideTheGridIsRefused() {
    SplitGrid grid;
    grid.setDimensions(5, 23);
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setText(6, 1, "x"));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.text(1, 24));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setBackColor(0, kWhite));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setActiveCell(1, 0));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.operatorSelects(0, 3));
    QCOMPARE(grid.activeRow(), 1);
}

QTEST_GUILESS_MAIN(SplitTableTest)
#include "tst_splittable.moc"
