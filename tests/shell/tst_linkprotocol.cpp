// Requests of other programs against the main window's fields: what they
// read, what they set, and every way of asking wrongly.
#include <QtTest>

#include <QRegularExpression>

#include <string>

#include "shell/LinkProtocol.h"
#include "support/RecordingWatcher.h"
#include "support/Rig.h"
#include "support/TestText.h"

using namespace dervix;
using namespace dervix::test;

Q_DECLARE_METATYPE(std::string)

namespace {

// Every item's text, to see that a refused request changed nothing.
std::string Snapshot(FrmDervix& w) {
    return w.txtFlowRate.text() + "|" + w.txtDVXScmd.text() + "|" + w.DervixResp.text() + "|" + w.Label3.caption() +
           "|" + w.Label5.caption();
}

}  // namespace

class TestLinkProtocol : public QObject {
    Q_OBJECT
private slots:
    void requestReadsItems_data();
    void requestReadsItems();
    void requestEscapesAndEncodes_data();
    void requestEscapesAndEncodes();
    void listedItemsAreServed();
    void pokeRunsHandlerBeforeAnswer_data();
    void pokeRunsHandlerBeforeAnswer();
    void pokeReachesModule();
    void pokeKillEndsProgram_data();
    void pokeKillEndsProgram();
    void textsFromClientsStayOnTheirLogLines_data();
    void textsFromClientsStayOnTheirLogLines();
    void refused_data();
    void refused();
    void lineLengthLimit();
    void escapesRoundTrip();
    void utf8Checks_data();
    void utf8Checks();
};

void TestLinkProtocol::requestReadsItems_data() {
    QTest::addColumn<std::string>("line");
    QTest::addColumn<std::string>("answer");
    QTest::newRow("Label3") << B("REQUEST Label3") << B("OK Flow Rate");
    QTest::newRow("Label5") << B("REQUEST Label5") << B("OK mL/min");
    QTest::newRow("txtFlowRate") << B("REQUEST txtFlowRate") << B("OK 0.00");
    QTest::newRow("empty txtDVXScmd") << B("REQUEST txtDVXScmd") << B("OK ");
    QTest::newRow("empty DervixResp") << B("REQUEST DervixResp") << B("OK ");
    QTest::newRow("CR LF line end") << B("REQUEST Label3\r") << B("OK Flow Rate");
    QTest::newRow("item in lower case") << B("REQUEST label3") << B("OK Flow Rate");
    QTest::newRow("item in capitals") << B("REQUEST LABEL5") << B("OK mL/min");
    QTest::newRow("item in mixed case") << B("REQUEST TXTflowRATE") << B("OK 0.00");
}

void TestLinkProtocol::requestReadsItems() {
    QFETCH(std::string, line);
    QFETCH(std::string, answer);
    Rig rig;
    LinkProtocol link(*rig.w);
    const std::string before = Snapshot(*rig.w);
    QCOMPARE(link.handle(line), answer);
    QCOMPARE(Snapshot(*rig.w), before);
    QVERIFY(rig.serial.frames.empty());
}

// The list that other links go by (DDE names its items ahead).
void TestLinkProtocol::listedItemsAreServed() {
    Rig rig;
    LinkProtocol link(*rig.w);
    for (const std::string_view item : kLinkItems)
        QVERIFY2(link.handle("REQUEST " + std::string(item)).rfind("OK ", 0) == 0, item.data());
}

void TestLinkProtocol::requestEscapesAndEncodes_data() {
    QTest::addColumn<std::string>("caption");
    QTest::addColumn<std::string>("escaped");
    QTest::newRow("backslash, CR, LF, Latin-1")
        << B("a\\b\r\nc \xe9\xff") << B("a\\\\b\\r\\nc \xc3\xa9\xc3\xbf");
    QTest::newRow("ESC clearing a screen") << B("\x1b[2JG1") << B("\\x1B[2JG1");
    QTest::newRow("NUL, tab, VT, FF, US") << B("\x00\t\x0b\x0c\x1f") << B("\\x00\\x09\\x0B\\x0C\\x1F");
    QTest::newRow("DEL") << B("a\x7f") << B("a\\x7F");
    QTest::newRow("C1 controls") << B("\x80\x9b[2J\x9f") << B("\\x80\\x9B[2J\\x9F");
    QTest::newRow("no-break space passes") << B("\xa0") << B("\xc2\xa0");
    QTest::newRow("a text that looks escaped") << B("\\x1B") << B("\\\\x1B");
}

// What a client reads, now and as a change, holds no control byte: a text
// shown on a terminal cannot steer it.
void TestLinkProtocol::requestEscapesAndEncodes() {
    QFETCH(std::string, caption);
    QFETCH(std::string, escaped);
    Rig rig;
    LinkProtocol link(*rig.w);
    Watcher watcher;
    QCOMPARE(link.handle("WATCH Label3", &watcher), B("OK Flow Rate"));
    rig.w->Label3.setCaption(caption);
    QCOMPARE(link.handle("REQUEST Label3"), "OK " + escaped);
    QCOMPARE(watcher.lines, std::vector<std::string>{"CHANGED Label3 " + escaped});
    QCOMPARE(Utf8ToLatin1(*LinkUnescape(escaped)), std::optional<std::string>(caption));
}

void TestLinkProtocol::pokeRunsHandlerBeforeAnswer_data() {
    QTest::addColumn<std::string>("line");
    QTest::addColumn<std::string>("item");
    QTest::addColumn<std::string>("text");
    QTest::newRow("flow rate") << B("POKE txtFlowRate 12.5") << B("txtFlowRate") << B("12.5");
    QTest::newRow("text with blanks") << B("POKE txtFlowRate  1 2 ") << B("txtFlowRate") << B(" 1 2 ");
    QTest::newRow("empty text") << B("POKE DervixResp ") << B("DervixResp") << B("");
    QTest::newRow("escapes") << B("POKE DervixResp G1\\r\\n") << B("DervixResp") << B("G1\r\n");
    QTest::newRow("backslash") << B("POKE txtDVXScmd a\\\\b") << B("txtDVXScmd") << B("a\\b");
    QTest::newRow("Latin-1 from UTF-8") << B("POKE txtFlowRate \xc3\xa9\xc3\xbf") << B("txtFlowRate") << B("\xe9\xff");
    QTest::newRow("CR LF line end") << B("POKE txtFlowRate 7\r") << B("txtFlowRate") << B("7");
    QTest::newRow("escaped CR at the end kept") << B("POKE txtFlowRate 7\\r") << B("txtFlowRate") << B("7\r");
    QTest::newRow("tab and NUL pass") << B("POKE txtFlowRate a\tb\x00") << B("txtFlowRate") << B("a\tb\x00");
    QTest::newRow("hexadecimal escapes") << B("POKE txtFlowRate \\x1B[2J\\x00\\x7f") << B("txtFlowRate")
                                         << B("\x1b[2J\x00\x7f");
    QTest::newRow("C1 and Latin-1 by escape") << B("POKE DervixResp \\x9B\\xE9\\x41") << B("DervixResp")
                                              << B("\x9b\xe9" "A");
    QTest::newRow("item in capitals") << B("POKE TXTFLOWRATE 3") << B("txtFlowRate") << B("3");
    QTest::newRow("request field in lower case") << B("POKE txtdvxscmd x") << B("txtDVXScmd") << B("x");
}

void TestLinkProtocol::pokeRunsHandlerBeforeAnswer() {
    QFETCH(std::string, line);
    QFETCH(std::string, item);
    QFETCH(std::string, text);
    Rig rig;
    LinkProtocol link(*rig.w);
    TextSlot* slot = item == "txtFlowRate" ? &rig.w->txtFlowRate
                     : item == "txtDVXScmd" ? &rig.w->txtDVXScmd
                                             : &rig.w->DervixResp;
    std::vector<std::string> seen;
    slot->setHandler([&] { seen.push_back(slot->text()); });
    slot->setText("before");
    seen.clear();
    QCOMPARE(link.handle(line), B("OK"));
    QCOMPARE(int(seen.size()), 1);
    QCOMPARE(seen[0], text);
    // The same text again is a change again, but for a reply the program
    // already holds: that is handled once.
    QCOMPARE(link.handle(line), B("OK"));
    QCOMPARE(int(seen.size()), item == "DervixResp" ? 1 : 2);
}

void TestLinkProtocol::pokeReachesModule() {
    Rig rig;
    rig.startAndAnswerCheck("1");
    LinkProtocol link(*rig.w);
    rig.serial.frames.clear();
    QCOMPARE(link.handle("POKE txtDVXScmd STATUS"), B("OK"));
    // The transmitter ran inside the request: the frame is out, the field
    // emptied again, the answer awaited.
    QCOMPARE(rig.serial.frames, std::vector<std::string>{"G1S\r\n"});
    QCOMPARE(link.handle("REQUEST txtDVXScmd"), B("OK "));
    QCOMPARE(rig.w->g.LinkState, kWaiting);
    QCOMPARE(rig.w->g.CurrentCommand, B("STATUS"));
}

void TestLinkProtocol::pokeKillEndsProgram_data() {
    QTest::addColumn<std::string>("line");
    QTest::newRow("KILL") << B("POKE txtDVXScmd KILL");
    QTest::newRow("lower case") << B("POKE txtDVXScmd kill");
}

void TestLinkProtocol::pokeKillEndsProgram() {
    QFETCH(std::string, line);
    Rig rig;
    LinkProtocol link(*rig.w);
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, link.handle(line));
    QCOMPARE(rig.process.terminations, 1);
}

// What a client places reaches the log with no line break or control byte
// of its own: each line the log gains starts with a time stamp, but for the
// end of a reply the module sent, kept as it came.
void TestLinkProtocol::textsFromClientsStayOnTheirLogLines_data() {
    QTest::addColumn<std::string>("request");
    QTest::addColumn<std::string>("logged");
    QTest::newRow("a forged line in the response slot")
        << B("POKE DervixResp x\\r\\nDec 08 2026 06:00:00 PM: MSGBOX forged")
        << B("DervixResp_Change x\\r\\nDec 08 2026 06:00:00 PM: MSGBOX forged\r\n");
    QTest::newRow("the same, as a reply original")
        << B("POKE DervixResp x\\r\\nDec 08 2026 06:00:00 PM: MSGBOX forged")
        << B("Response String Original = [x\\r\\nDec 08 2026 06:00:00 PM: MSGBOX forged]\r\n");
    QTest::newRow("a forged line closed as a reply") << B("POKE DervixResp x\\nDec 08 2026 06:00:00 PM: y\\r\\n")
                                                     << B("Response String = [xDec 08 2026 06:00:00 PM: y]\r\n");
    QTest::newRow("a real reply looks as it always did") << B("POKE DervixResp G1READY\\r\\n")
                                                         << B("DervixResp_Change G1READY\r\n\r\n");
    QTest::newRow("a real reply's original") << B("POKE DervixResp G1READY\\r\\n")
                                             << B("Response String Original = [G1READY\r\n]\r\n");
    QTest::newRow("VT, FF and ESC in a request") << B("POKE txtDVXScmd 7\\x0B\\x0C\\x1B[2J")
                                                 << B("Send Command - [7\\x0B\\x0C\\x1B[2J]\r\n");
    QTest::newRow("raw ESC and tab in a request") << B("POKE txtDVXScmd 7\x1b\t") << B("Send Command - [7\\x1B\\x09]\r\n");
    QTest::newRow("a request with a line break") << B("POKE txtDVXScmd x\\r\\nDec 08 2026 06:00:00 PM: y")
                                                 << B("Send Command - [x\\r\\nDec 08 2026 06:00:00 PM: y]\r\n");
    QTest::newRow("a reply with ESC and C1") << B("POKE DervixResp G1\\x1B[2J\\x9B\\r\\n")
                                             << B("Response String = [G1\\x1B[2J\\x9B]\r\n");
    QTest::newRow("a flow rate") << B("POKE txtFlowRate 5\\x1B[2J\\r\\n") << B("");
}

void TestLinkProtocol::textsFromClientsStayOnTheirLogLines() {
    QFETCH(std::string, request);
    QFETCH(std::string, logged);
    Rig rig;
    rig.startAndAnswerCheck();
    rig.serial.deliver("G1\r\n");
    rig.w->txtDVXScmd.setText("STATUS");
    rig.w->g.LogEnabled = 1;
    LinkProtocol link(*rig.w);
    QCOMPARE(link.handle(request), B("OK"));
    std::string log;
    for (const std::string& line : rig.logFile.lines) log += line;
    if (!logged.empty()) QVERIFY2(log.find(": " + logged) != std::string::npos, log.c_str());
    const QRegularExpression stamped("^[A-Z][a-z]{2} \\d\\d \\d{4} \\d\\d:\\d\\d:\\d\\d [AP]M: ");
    QStringList lines = QString::fromLatin1(Q(log)).split("\r\n");
    QCOMPARE(lines.takeLast(), QString());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        // A reply's CR LF kept: its line goes on with the program's own "]"
        // or with nothing.
        const bool replyEnd = i > 0 && (lines[i - 1].contains("DervixResp_Change") ||
                                        lines[i - 1].contains("Response String Original"));
        QVERIFY2(stamped.match(line).hasMatch() || (replyEnd && (line.isEmpty() || line == "]")), qPrintable(line));
        QVERIFY2(line.indexOf("PM: MSGBOX forged") < 0 || line.indexOf("DervixResp_Change") >= 0 ||
                     line.indexOf("Response String") >= 0,
                 qPrintable(line));
        for (const QChar c : line)
            QVERIFY2(c.unicode() >= 0x20 && !(c.unicode() >= 0x7F && c.unicode() <= 0x9F), qPrintable(line));
    }
}

void TestLinkProtocol::refused_data() {
    QTest::addColumn<std::string>("line");
    QTest::addColumn<std::string>("answer");
    QTest::newRow("empty") << B("") << B("ERR empty request");
    QTest::newRow("CR alone") << B("\r") << B("ERR empty request");
    QTest::newRow("unknown verb") << B("EXECUTE [x]") << B("ERR unknown request");
    QTest::newRow("verb in lower case") << B("request Label3") << B("ERR unknown request");
    QTest::newRow("verb without item") << B("REQUEST") << B("ERR missing item");
    QTest::newRow("verb with empty item") << B("REQUEST ") << B("ERR missing item");
    QTest::newRow("POKE without item") << B("POKE") << B("ERR missing item");
    QTest::newRow("unknown item") << B("REQUEST vaSplit") << B("ERR unknown item");
    QTest::newRow("item one letter short") << B("REQUEST label") << B("ERR unknown item");
    QTest::newRow("item one letter long") << B("REQUEST LABEL33") << B("ERR unknown item");
    QTest::newRow("text after REQUEST item") << B("REQUEST Label3 x") << B("ERR unknown item");
    QTest::newRow("two blanks") << B("REQUEST  Label3") << B("ERR unknown item");
    QTest::newRow("POKE unknown item") << B("POKE cmdStart x") << B("ERR unknown item");
    QTest::newRow("POKE label") << B("POKE Label3 Rate") << B("ERR Label3 cannot be set");
    QTest::newRow("POKE other label") << B("POKE Label5 x") << B("ERR Label5 cannot be set");
    QTest::newRow("POKE label in other case") << B("POKE LABEL3 x") << B("ERR Label3 cannot be set");
    QTest::newRow("POKE without text") << B("POKE txtFlowRate") << B("ERR missing text");
    QTest::newRow("WATCH unknown item") << B("WATCH vaSplit") << B("ERR unknown item");
    QTest::newRow("UNWATCH without item") << B("UNWATCH") << B("ERR missing item");
    QTest::newRow("WATCH with no client") << B("WATCH DervixResp") << B("ERR cannot watch here");
    QTest::newRow("unknown escape") << B("POKE txtFlowRate a\\tb") << B("ERR bad escape");
    QTest::newRow("backslash at the end") << B("POKE txtFlowRate a\\") << B("ERR bad escape");
    QTest::newRow("\\x without digits") << B("POKE txtFlowRate a\\x") << B("ERR bad escape");
    QTest::newRow("\\x with one digit") << B("POKE txtFlowRate \\x1") << B("ERR bad escape");
    QTest::newRow("\\x with one digit before text") << B("POKE txtFlowRate \\x1G") << B("ERR bad escape");
    QTest::newRow("\\x with a sign") << B("POKE txtFlowRate \\x+1") << B("ERR bad escape");
    QTest::newRow("bare CR inside") << B("POKE txtFlowRate a\rb") << B("ERR bare CR in request");
    QTest::newRow("beyond Latin-1") << B("POKE txtFlowRate \xe2\x82\xac") << B("ERR character not in Latin-1");
    QTest::newRow("emoji") << B("POKE txtFlowRate \xf0\x9f\x98\x80") << B("ERR character not in Latin-1");
    QTest::newRow("raw Latin-1 byte") << B("POKE txtFlowRate \xe9") << B("ERR invalid UTF-8");
    QTest::newRow("overlong slash") << B("POKE txtFlowRate \xc0\xaf") << B("ERR invalid UTF-8");
    QTest::newRow("overlong three bytes") << B("POKE txtFlowRate \xe0\x80\xaf") << B("ERR invalid UTF-8");
    QTest::newRow("surrogate") << B("POKE txtFlowRate \xed\xa0\x80") << B("ERR invalid UTF-8");
    QTest::newRow("past U+10FFFF") << B("POKE txtFlowRate \xf4\x90\x80\x80") << B("ERR invalid UTF-8");
    QTest::newRow("cut sequence") << B("POKE txtFlowRate \xc3") << B("ERR invalid UTF-8");
    QTest::newRow("lone continuation") << B("POKE txtFlowRate \x80") << B("ERR invalid UTF-8");
    QTest::newRow("invalid UTF-8 in REQUEST") << B("REQUEST \xff") << B("ERR invalid UTF-8");
    QTest::newRow("garbage") << B("\x01\x02\x03 \x04") << B("ERR unknown request");
    QTest::newRow("too long") << ("POKE txtFlowRate " + std::string(4096, '1')) << B("ERR line too long");
}

void TestLinkProtocol::refused() {
    QFETCH(std::string, line);
    QFETCH(std::string, answer);
    Rig rig;
    LinkProtocol link(*rig.w);
    int handled = 0;
    for (TextSlot* s : {&rig.w->txtFlowRate, &rig.w->txtDVXScmd, &rig.w->DervixResp})
        s->setHandler([&] { ++handled; });
    const std::string before = Snapshot(*rig.w);
    QCOMPARE(link.handle(line), answer);
    QCOMPARE(handled, 0);
    QCOMPARE(Snapshot(*rig.w), before);
    QVERIFY(rig.profile.writes.empty());
    QVERIFY(rig.dialogs.boxes.empty());
}

void TestLinkProtocol::lineLengthLimit() {
    Rig rig;
    LinkProtocol link(*rig.w);
    const std::string head = "POKE txtFlowRate ";
    std::string longest = head + std::string(LinkProtocol::kMaxLine - head.size(), '5');
    rig.w->txtFlowRate.setHandler([] {});
    QCOMPARE(longest.size(), std::size_t(4096));
    QCOMPARE(link.handle(longest), B("OK"));
    QCOMPARE(rig.w->txtFlowRate.text().size(), std::size_t(4096 - head.size()));
    QCOMPARE(link.handle(longest + "5"), B("ERR line too long"));
}

// What a client escapes and encodes comes back unchanged for every byte.
void TestLinkProtocol::escapesRoundTrip() {
    Rig rig;
    LinkProtocol link(*rig.w);
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    all += "\\r\\n\\\\\\x1B";
    rig.w->txtFlowRate.setHandler([] {});
    QCOMPARE(link.handle("POKE txtFlowRate " + LinkEscape(Latin1ToUtf8(all))), B("OK"));
    QCOMPARE(rig.w->txtFlowRate.text(), all);
    const std::string answer = link.handle("REQUEST txtFlowRate");
    QVERIFY(answer.rfind("OK ", 0) == 0);
    QVERIFY(answer.find('\n') == std::string::npos);
    auto unescaped = LinkUnescape(answer.substr(3));
    QVERIFY(unescaped.has_value());
    QCOMPARE(Utf8ToLatin1(*unescaped), std::optional<std::string>(all));
    // Nothing a terminal takes for a control: no C0 byte, no DEL, no C1
    // character; the Latin-1 form escapes alike.
    const QString shown = QString::fromUtf8(answer.data(), qsizetype(answer.size()));
    for (const QChar c : shown) QVERIFY2(c.unicode() >= 0x20 && !(c.unicode() >= 0x7F && c.unicode() <= 0x9F), "control");
    QCOMPARE(Latin1ToUtf8(LinkEscapeLatin1(all)), LinkEscape(Latin1ToUtf8(all)));
}

void TestLinkProtocol::utf8Checks_data() {
    QTest::addColumn<std::string>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("ASCII") << B("abc") << true;
    QTest::newRow("two bytes") << B("\xc3\xa9") << true;
    QTest::newRow("three bytes") << B("\xe2\x82\xac") << true;
    QTest::newRow("four bytes") << B("\xf0\x9f\x98\x80") << true;
    QTest::newRow("highest") << B("\xf4\x8f\xbf\xbf") << true;
    QTest::newRow("C1 lead") << B("\xc1\xbf") << false;
    QTest::newRow("F5 lead") << B("\xf5\x80\x80\x80") << false;
    QTest::newRow("overlong four bytes") << B("\xf0\x80\x80\x80") << false;
    QTest::newRow("missing continuation") << B("\xe2\x82") << false;
    QTest::newRow("ASCII where continuation belongs") << B("\xe2\x82x") << false;
}

void TestLinkProtocol::utf8Checks() {
    QFETCH(std::string, text);
    QFETCH(bool, valid);
    QCOMPARE(IsValidUtf8(text), valid);
    // Agrees with Qt's own decoder.
    QCOMPARE(QUtf8StringView(text.data(), qsizetype(text.size())).isValidUtf8(), valid);
}

QTEST_APPLESS_MAIN(TestLinkProtocol)
#include "tst_linkprotocol.moc"
