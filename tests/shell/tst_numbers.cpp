// Number forms of stored settings and displayed figures.
#include <QtTest>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "shell/Numbers.h"

using namespace dervix;

class TestNumbers : public QObject {
    Q_OBJECT
private slots:
    void numericValue_data();
    void numericValue();
    void signedForm_data();
    void signedForm();
    void plainForm();
    void roundHalfEven_data();
    void roundHalfEven();
    void formatWhole_data();
    void formatWhole();
    void formatFixed_data();
    void formatFixed();
    void formatOptionalInteger_data();
    void formatOptionalInteger();
    void userLocaleDoesNotChangeForms();
};

void TestNumbers::numericValue_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("word") << QByteArray("yes") << 0.0;
    QTest::newRow("digit") << QByteArray("2") << 2.0;
    QTest::newRow("blanks between digits") << QByteArray(" 1 2") << 12.0;
    QTest::newRow("tabs and line feeds skipped") << QByteArray("\t1\n2 .\t5") << 12.5;
    QTest::newRow("second point ends it") << QByteArray("1.2.3") << 1.2;
    QTest::newRow("exponent then junk") << QByteArray("-3e2x") << -300.0;
    QTest::newRow("capital exponent") << QByteArray("1.5E3") << 1500.0;
    QTest::newRow("D exponent") << QByteArray("2D2") << 200.0;
    QTest::newRow("negative exponent") << QByteArray("25e-1") << 2.5;
    QTest::newRow("exponent with leading zeros") << QByteArray("1e000000002") << 100.0;
    QTest::newRow("exponent without digits") << QByteArray("7e") << 7.0;
    QTest::newRow("exponent sign without digits") << QByteArray("7e+") << 7.0;
    QTest::newRow("empty") << QByteArray("") << 0.0;
    QTest::newRow("point alone") << QByteArray(".") << 0.0;
    QTest::newRow("leading point") << QByteArray(".5") << 0.5;
    QTest::newRow("trailing point") << QByteArray("5.") << 5.0;
    QTest::newRow("plus sign") << QByteArray("+4") << 4.0;
    QTest::newRow("sign alone") << QByteArray("-") << 0.0;
    QTest::newRow("two signs") << QByteArray("--4") << 0.0;
    QTest::newRow("blank after sign") << QByteArray("- 5") << -5.0;
    QTest::newRow("signed form read back") << QByteArray(" 1500000") << 1500000.0;
    QTest::newRow("comma is no decimal point") << QByteArray("1,5") << 1.0;
    QTest::newRow("CR is not skipped") << QByteArray("\r5") << 0.0;
    QTest::newRow("overflow reads as 0") << QByteArray("1e999") << 0.0;
    QTest::newRow("underflow reads as 0") << QByteArray("1e-999") << 0.0;
    QTest::newRow("many digits") << QByteArray("123456789012345678901234567890") << 1.2345678901234568e29;
}

void TestNumbers::numericValue() {
    QFETCH(QByteArray, text);
    QFETCH(double, value);
    QCOMPARE(NumericValue(text.toStdString()), value);
}

void TestNumbers::signedForm_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("large whole") << 1500000.0 << " 1500000";
    QTest::newRow("negative") << -500.0 << "-500";
    QTest::newRow("fraction") << 1234.5 << " 1234.5";
    QTest::newRow("zero") << 0.0 << " 0";
    QTest::newRow("negative zero") << -0.0 << " 0";
    QTest::newRow("small fraction") << 0.25 << " 0.25";
    QTest::newRow("fifteen digits") << 123456789012345.0 << " 123456789012345";
    QTest::newRow("binary fraction kept to 15 digits") << 0.1 + 0.2 << " 0.3";
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << " 0";
}

void TestNumbers::signedForm() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(SignedForm(value)), text);
    // What is stored reads back to the same number.
    if (std::isfinite(value)) QCOMPARE(NumericValue(SignedForm(value)), std::stod(SignedForm(value)));
}

void TestNumbers::plainForm() {
    QCOMPARE(PlainForm(1), std::string("1"));
    QCOMPARE(PlainForm(15), std::string("15"));
    QCOMPARE(PlainForm(0), std::string("0"));
    QCOMPARE(PlainForm(-3), std::string("-3"));
}

void TestNumbers::roundHalfEven_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("rounded");
    QTest::newRow("0.5") << 0.5 << 0.0;
    QTest::newRow("1.5") << 1.5 << 2.0;
    QTest::newRow("2.5") << 2.5 << 2.0;
    QTest::newRow("3.5") << 3.5 << 4.0;
    QTest::newRow("2.4999") << 2.4999 << 2.0;
    QTest::newRow("2.5001") << 2.5001 << 3.0;
    QTest::newRow("-0.5") << -0.5 << 0.0;
    QTest::newRow("-1.5") << -1.5 << -2.0;
    QTest::newRow("-2.5") << -2.5 << -2.0;
    QTest::newRow("-2.6") << -2.6 << -3.0;
    QTest::newRow("whole") << 7.0 << 7.0;
}

void TestNumbers::roundHalfEven() {
    QFETCH(double, value);
    QFETCH(double, rounded);
    QCOMPARE(RoundHalfEven(value), rounded);
}

void TestNumbers::formatWhole_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("emptyForZero");
    QTest::addColumn<QString>("text");
    QTest::newRow("### 7.6") << 7.6 << true << "8";
    QTest::newRow("### 0.4") << 0.4 << true << "";
    QTest::newRow("### 0.5 away from zero") << 0.5 << true << "1";
    QTest::newRow("### 2.5 away from zero") << 2.5 << true << "3";
    QTest::newRow("### -0.4") << -0.4 << true << "";
    QTest::newRow("### 1000") << 1000.0 << true << "1000";
    QTest::newRow("########0 0.4") << 0.4 << false << "0";
    QTest::newRow("########0 1234567.5") << 1234567.5 << false << "1234568";
    QTest::newRow("########0 -2.5") << -2.5 << false << "-3";
}

void TestNumbers::formatWhole() {
    QFETCH(double, value);
    QFETCH(bool, emptyForZero);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(FormatWhole(value, emptyForZero)), text);
}

void TestNumbers::formatFixed_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("text");
    QTest::newRow("0.000 of 0.625") << 0.625 << 3 << "0.625";
    QTest::newRow("0.00 of 20") << 20.0 << 2 << "20.00";
    QTest::newRow("negative zero") << -0.0001 << 2 << "0.00";
    QTest::newRow("negative") << -1.25 << 1 << "-1.2";
    QTest::newRow("no decimals") << 99.7 << 0 << "100";
}

void TestNumbers::formatFixed() {
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(FormatFixed(value, decimals)), text);
}

void TestNumbers::formatOptionalInteger_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("33.333") << 33.333 << "33.333";
    QTest::newRow("3333.333") << 3333.333 << "3333.333";
    QTest::newRow("0.5") << 0.5 << ".500";
    QTest::newRow("0") << 0.0 << ".000";
    QTest::newRow("-0.25") << -0.25 << "-.250";
    QTest::newRow("10.0625") << 10.0625 << "10.062";
}

void TestNumbers::formatOptionalInteger() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(FormatOptionalInteger(value, 3)), text);
}

// The desktop toolkit switches the process to the user's locale; a comma
// locale must change neither reading nor writing.
void TestNumbers::userLocaleDoesNotChangeForms() {
#ifdef _WIN32
    // The C runtime knows Windows' own locales by name.
    const char* comma = "German_Germany.1252";
#else
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.path() + "/de_DE.UTF-8";
    QProcess localedef;
    localedef.start("localedef", {"-i", "de_DE", "-f", "UTF-8", target});
    if (!localedef.waitForFinished(60000) || localedef.exitCode() != 0 || !QFileInfo::exists(target))
        QSKIP("cannot build a comma locale here (localedef and its sources are needed)");
    const QByteArray oldLocPath = qgetenv("LOCPATH");
    qputenv("LOCPATH", dir.path().toLocal8Bit());
    const char* comma = "de_DE.UTF-8";
#endif
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    QVERIFY(std::setlocale(LC_NUMERIC, comma) != nullptr);
    // The locale really is in force: the C library now reads "1.5" as 1.
    const double cLibrary = std::strtod("1.5", nullptr);

    const double read = NumericValue("1.5");
    const std::string signedText = SignedForm(1234.5);
    const std::string fixed = FormatFixed(0.625, 3);
    const std::string optional = FormatOptionalInteger(0.5, 3);

    std::setlocale(LC_NUMERIC, previous.c_str());
#ifndef _WIN32
    if (oldLocPath.isNull())
        qunsetenv("LOCPATH");
    else
        qputenv("LOCPATH", oldLocPath);
#endif

    QCOMPARE(cLibrary, 1.0);
    QCOMPARE(read, 1.5);
    QCOMPARE(signedText, std::string(" 1234.5"));
    QCOMPARE(fixed, std::string("0.625"));
    QCOMPARE(optional, std::string(".500"));
}

QTEST_APPLESS_MAIN(TestNumbers)
#include "tst_numbers.moc"
