// The profile text rules: what a lookup finds and what an update changes,
// byte for byte.
#include <QtTest>

#include <optional>
#include <string>

#include "shell/IniText.h"

using dervix::IniKeys;
using dervix::IniLookup;
using dervix::IniUpdate;

Q_DECLARE_METATYPE(std::string)

namespace {

std::string S(const char* text) { return text; }
// Literal bytes including any NUL inside.
template <std::size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// A lookup result as one comparable text: absent is not the empty text.
QByteArray Shown(const std::optional<std::string>& value) {
    return value ? QByteArray("=") + QByteArray::fromStdString(*value) : QByteArray("<absent>");
}

}  // namespace

class TestIniText : public QObject {
    Q_OBJECT
private slots:
    void lookup_data();
    void lookup();
    void keys_data();
    void keys();
    void update_data();
    void update();
    void valueSurvivesWriteAndRead_data();
    void valueSurvivesWriteAndRead();
    void lineBreakInValueCannotAddKey();
};

void TestIniText::lookup_data() {
    QTest::addColumn<std::string>("content");
    QTest::addColumn<std::string>("section");
    QTest::addColumn<std::string>("key");
    QTest::addColumn<QByteArray>("expected");

    const std::string basic = "[Dervix]\nSplitCode=7\nFlowRate= 20 \n";
    QTest::newRow("key in other case") << basic << S("Dervix") << S("Splitcode") << QByteArray("=7");
    QTest::newRow("section in other case") << basic << S("DERVIX") << S("SPLITCODE") << QByteArray("=7");
    QTest::newRow("blanks around value removed") << basic << S("Dervix") << S("FlowRate") << QByteArray("=20");
    QTest::newRow("absent key") << basic << S("Dervix") << S("Running") << QByteArray("<absent>");
    QTest::newRow("absent section") << basic << S("Other") << S("SplitCode") << QByteArray("<absent>");
    QTest::newRow("empty file") << S("") << S("Dervix") << S("SplitCode") << QByteArray("<absent>");
    QTest::newRow("empty value is present")
        << S("[Dervix]\nRunning=\n") << S("Dervix") << S("Running") << QByteArray("=");
    QTest::newRow("blank-only value is present and empty")
        << S("[Dervix]\nRunning=   \t\n") << S("Dervix") << S("Running") << QByteArray("=");
    QTest::newRow("double quotes removed")
        << S("[Dervix]\nSettings=\"19200,N,8,1\"\n") << S("Dervix") << S("Settings") << QByteArray("=19200,N,8,1");
    QTest::newRow("single quotes removed")
        << S("[Dervix]\nSettings='a b'\n") << S("Dervix") << S("Settings") << QByteArray("=a b");
    QTest::newRow("unmatched quotes kept")
        << S("[Dervix]\nSettings=\"a'\n") << S("Dervix") << S("Settings") << QByteArray("=\"a'");
    QTest::newRow("semicolon is part of value")
        << S("[Dervix]\nSettings=a;b ; c\n") << S("Dervix") << S("Settings") << QByteArray("=a;b ; c");
    QTest::newRow("value after first equals sign")
        << S("[Dervix]\nSettings=a=b\n") << S("Dervix") << S("Settings") << QByteArray("=a=b");
    QTest::newRow("comment line is no key")
        << S("[Dervix]\n;Logging=1\n") << S("Dervix") << S("Logging") << QByteArray("<absent>");
    QTest::newRow("key in later section not seen")
        << S("[Dervix]\nA=1\n[Other]\nLogging=1\n") << S("Dervix") << S("Logging") << QByteArray("<absent>");
    QTest::newRow("CR LF line ends")
        << S("[Dervix]\r\nCommPort=1\r\nModuleID=3\r\n") << S("Dervix") << S("CommPort") << QByteArray("=1");
    QTest::newRow("CR LF last line without end")
        << S("[Dervix]\r\nModuleID=3") << S("Dervix") << S("ModuleID") << QByteArray("=3");
    QTest::newRow("duplicate sections: first counts")
        << S("[Dervix]\nA=1\n[dervix]\nA=2\nB=3\n") << S("Dervix") << S("A") << QByteArray("=1");
    QTest::newRow("duplicate sections: second never consulted")
        << S("[Dervix]\nA=1\n[dervix]\nA=2\nB=3\n") << S("Dervix") << S("B") << QByteArray("<absent>");
    QTest::newRow("duplicate keys: first counts")
        << S("[Dervix]\nA=1\na=2\n") << S("Dervix") << S("A") << QByteArray("=1");
    QTest::newRow("binary bytes around the key")
        << Bytes("\x00\xff\x80garbage\n[Dervix]\nA=\x01\xfe\n\x00\x00=zz\nB=ok\n") << S("Dervix") << S("B")
        << QByteArray("=ok");
    QTest::newRow("binary value returned as is")
        << Bytes("[Dervix]\nA=\x01\xfe\x00x\n") << S("Dervix") << S("A") << QByteArray("=\x01\xfe\x00x", 5);
    QTest::newRow("very long line before the key")
        << ("[Dervix]\n" + std::string(200000, 'x') + "\nA=5\n") << S("Dervix") << S("A") << QByteArray("=5");
    QTest::newRow("byte-order mark before the first section")
        << S("\xEF\xBB\xBF[Dervix]\nA=5\n") << S("Dervix") << S("A") << QByteArray("=5");
    QTest::newRow("header with blanks and trailing text")
        << S("  [ Dervix ] ; main\nA=5\n") << S("Dervix") << S("A") << QByteArray("=5");
    QTest::newRow("unclosed bracket is no section")
        << S("[Dervix]\n[broken\nA=5\n") << S("Dervix") << S("A") << QByteArray("=5");
    QTest::newRow("key with blanks around it")
        << S("[Dervix]\n  Logging  =  2\n") << S("Dervix") << S("Logging") << QByteArray("=2");
}

void TestIniText::lookup() {
    QFETCH(std::string, content);
    QFETCH(std::string, section);
    QFETCH(std::string, key);
    QFETCH(QByteArray, expected);
    QCOMPARE(Shown(IniLookup(content, section, key)), expected);
}

// A section taken over from another file: every key once, as a lookup
// would find it.
void TestIniText::keys_data() {
    QTest::addColumn<std::string>("content");
    QTest::addColumn<QByteArray>("keys");  // joined by blanks
    QTest::newRow("in order, first spelling, comments and other lines skipped")
        << S("[Other]\nX=1\n[dervix]\r\nB=2\r\n;C=3\r\nnoequals\r\n A =1\r\nb=4\r\n") << QByteArray("B A");
    QTest::newRow("only the first matching section") << S("[Dervix]\nA=1\n[DERVIX]\nB=2\n") << QByteArray("A");
    QTest::newRow("no such section") << S("[Other]\nA=1\n") << QByteArray("");
    QTest::newRow("empty section") << S("[Dervix]\n[Other]\nA=1\n") << QByteArray("");
}

void TestIniText::keys() {
    QFETCH(std::string, content);
    QFETCH(QByteArray, keys);
    QByteArrayList found;
    for (const std::string& key : IniKeys(content, "Dervix")) found << QByteArray::fromStdString(key);
    QCOMPARE(found.join(' '), keys);
}

void TestIniText::update_data() {
    QTest::addColumn<std::string>("before");
    QTest::addColumn<std::string>("key");
    QTest::addColumn<std::string>("value");
    QTest::addColumn<std::string>("after");

    QTest::newRow("empty file gets the section")
        << S("") << S("SplitCode") << S("7") << S("[Dervix]\nSplitCode=7\n");
    QTest::newRow("replaced in place keeping the stored spelling")
        << S("[Dervix]\nsplitcode=3\nFlowRate=20\n") << S("SplitCode") << S("7")
        << S("[Dervix]\nsplitcode=7\nFlowRate=20\n");
    QTest::newRow("replacement keeps blanks before the equals sign")
        << S("[Dervix]\nA = 1\n") << S("A") << S("2") << S("[Dervix]\nA =2\n");
    QTest::newRow("new key at the end of its section, before blank lines")
        << S("[Dervix]\nA=1\n\n[Other]\nX=1\n") << S("B") << S("2")
        << S("[Dervix]\nA=1\nB=2\n\n[Other]\nX=1\n");
    QTest::newRow("other sections, comments and blanks kept byte for byte")
        << S("; my settings\n\n[Other]\nKey = Value ; note\n\n[Dervix]\n; port\nCommPort=1\n\n[Last]\nz=\n")
        << S("CommPort") << S("2")
        << S("; my settings\n\n[Other]\nKey = Value ; note\n\n[Dervix]\n; port\nCommPort=2\n\n[Last]\nz=\n");
    QTest::newRow("new section after text without final line end")
        << S("[Other]\nX=1") << S("A") << S("1") << S("[Other]\nX=1\n[Dervix]\nA=1\n");
    QTest::newRow("new key after last line without line end")
        << S("[Dervix]\nA=1") << S("B") << S("2") << S("[Dervix]\nA=1\nB=2\n");
    QTest::newRow("new key after a bare CR at the end")
        << S("[Dervix]\r") << S("B") << S("2") << S("[Dervix]\r\nB=2\n");
    QTest::newRow("CR LF file ending in a bare CR: new key, last value kept")
        << S("[Dervix]\r\nA=1\r") << S("B") << S("2") << S("[Dervix]\r\nA=1\r\nB=2\r\n");
    QTest::newRow("CR LF file ending in a bare CR: new section, last value kept")
        << S("[Other]\r\nX=1\r") << S("A") << S("1") << S("[Other]\r\nX=1\r\n[Dervix]\r\nA=1\r\n");
    QTest::newRow("CR LF file stays CR LF")
        << S("[Dervix]\r\nA=1\r\n[Other]\r\nX=1\r\n") << S("B") << S("2")
        << S("[Dervix]\r\nA=1\r\nB=2\r\n[Other]\r\nX=1\r\n");
    QTest::newRow("CR LF value replaced keeps its line end")
        << S("[Dervix]\r\nA=1\r\n") << S("A") << S("22") << S("[Dervix]\r\nA=22\r\n");
    QTest::newRow("empty value keeps the key")
        << S("[Dervix]\nRunning=x\n") << S("Running") << S("") << S("[Dervix]\nRunning=\n");
    QTest::newRow("duplicate sections: first one changed")
        << S("[Dervix]\nA=1\n[Dervix]\nB=2\n") << S("B") << S("3") << S("[Dervix]\nA=1\nB=3\n[Dervix]\nB=2\n");
    QTest::newRow("duplicate keys: first one changed")
        << S("[Dervix]\nA=1\nA=2\n") << S("A") << S("3") << S("[Dervix]\nA=3\nA=2\n");
    QTest::newRow("byte-order mark kept")
        << S("\xEF\xBB\xBF[Dervix]\nA=1\n") << S("A") << S("2") << S("\xEF\xBB\xBF[Dervix]\nA=2\n");
    QTest::newRow("binary bytes elsewhere kept")
        << Bytes("\x00\xff\n[Dervix]\nA=1\n") << S("A") << S("2") << Bytes("\x00\xff\n[Dervix]\nA=2\n");
    QTest::newRow("comment that looks like the key is left alone")
        << S("[Dervix]\n;A=old\n") << S("A") << S("1") << S("[Dervix]\n;A=old\nA=1\n");
    QTest::newRow("line breaks in a value become blanks")
        << S("[Dervix]\n") << S("A") << S("x\r\nModuleID=9") << S("[Dervix]\nA=x  ModuleID=9\n");
    QTest::newRow("quoted value protected by other quotes")
        << S("") << S("A") << S("\"q\"") << S("[Dervix]\nA='\"q\"'\n");
    QTest::newRow("signed form keeps its blank in the file")
        << S("") << S("FormTop") << S(" 2880") << S("[Dervix]\nFormTop= 2880\n");
    QTest::newRow("blanks around a quoted value are dropped")
        << S("") << S("A") << S(" 'q' ") << S("[Dervix]\nA=\"'q'\"\n");
}

void TestIniText::update() {
    QFETCH(std::string, before);
    QFETCH(std::string, key);
    QFETCH(std::string, value);
    QFETCH(std::string, after);
    const std::string result = IniUpdate(before, "Dervix", key, value);
    QCOMPARE(QByteArray::fromStdString(result), QByteArray::fromStdString(after));
}

// Whatever is written reads back as the text a reader would see: the value
// with line breaks as blanks and without blanks around it.
void TestIniText::valueSurvivesWriteAndRead_data() {
    QTest::addColumn<std::string>("before");
    QTest::addColumn<std::string>("value");
    QTest::addColumn<std::string>("readBack");

    QTest::newRow("plain") << S("") << S("19200,N,8,1") << S("19200,N,8,1");
    QTest::newRow("signed form") << S("[Dervix]\nRotations=1\n") << S(" 1500000") << S("1500000");
    QTest::newRow("double-quoted text") << S("") << S("\"abc\"") << S("\"abc\"");
    QTest::newRow("single-quoted text") << S("") << S("'abc'") << S("'abc'");
    QTest::newRow("quoted text with blanks") << S("") << S("  \"abc\"  ") << S("\"abc\"");
    QTest::newRow("lone quote") << S("") << S("\"") << S("\"");
    QTest::newRow("semicolons and equals signs") << S("") << S("a=b;c") << S("a=b;c");
    QTest::newRow("NUL and line breaks") << S("") << Bytes("a\0b\rc\nd") << S("a b c d");
    QTest::newRow("Latin-1 bytes") << S("") << S("\xe9t\xe9") << S("\xe9t\xe9");
    QTest::newRow("into a CR LF file") << S("[Dervix]\r\nA=1\r\n") << S("x y") << S("x y");
    QTest::newRow("after a bare CR at the end") << S("[Dervix]\r") << S("v") << S("v");
}

void TestIniText::valueSurvivesWriteAndRead() {
    QFETCH(std::string, before);
    QFETCH(std::string, value);
    QFETCH(std::string, readBack);
    const std::string after = IniUpdate(before, "Dervix", "Key", value);
    QCOMPARE(Shown(IniLookup(after, "Dervix", "Key")), Shown(readBack));
    QCOMPARE(Shown(IniLookup(IniUpdate(after, "Dervix", "Key", value), "Dervix", "Key")), Shown(readBack));
}

void TestIniText::lineBreakInValueCannotAddKey() {
    std::string content = "[Dervix]\nModuleID=1\n";
    for (const char* injected : {"x\nModuleID=9", "x\r\nModuleID=9", "x\rModuleID=9", "x\n[Dervix]\nLogging=1"}) {
        content = IniUpdate(content, "Dervix", "FlowRate", injected);
        QCOMPARE(Shown(IniLookup(content, "Dervix", "ModuleID")), QByteArray("=1"));
        QCOMPARE(Shown(IniLookup(content, "Dervix", "Logging")), QByteArray("<absent>"));
    }
    // One line per key: the header and the two keys.
    QCOMPARE(QByteArray::fromStdString(content).count('\n'), 3);
}

QTEST_APPLESS_MAIN(TestIniText)
#include "tst_initext.moc"
