// The desktop's boxes show the logic's texts exactly as given: a request
// text echoed in a box may hold anything another program sent.
#include <QtTest>

#include <QApplication>
#include <QDialog>
#include <QLabel>

#include <string>

#include "platform/qt/QtDesktop.h"
#include "support/WidgetHelpers.h"

class TestQtDialogs : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void promptIsPlainText_data();
    void promptIsPlainText();
};

void TestQtDialogs::promptIsPlainText_data() {
    QTest::addColumn<bool>("inputBox");
    QTest::newRow("message box") << false;
    QTest::newRow("input box") << true;
}

void TestQtDialogs::promptIsPlainText() {
    QFETCH(bool, inputBox);
    const std::string prompt = "<h1>x Timeout after  15 retries";
    dervix::QtDialogs dialogs;
    bool found = false;
    Qt::TextFormat format = Qt::AutoText;
    dervix::test::WhenModal([&](QWidget* modal) {
        for (QLabel* label : modal->findChildren<QLabel*>()) {
            if (label->text() != QString::fromStdString(prompt)) continue;
            found = true;
            format = label->textFormat();
        }
        static_cast<QDialog*>(modal)->done(0);
    });
    if (inputBox)
        dialogs.inputBox(prompt, "Dervix", "");
    else
        dialogs.messageBox(prompt, 64, "Dervix");
    QVERIFY(found);
    QCOMPARE(format, Qt::PlainText);
}

QTEST_MAIN(TestQtDialogs)
#include "tst_qtdialogs.moc"
