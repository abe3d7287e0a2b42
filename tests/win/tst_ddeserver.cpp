// The DDE link: the main window's logic on fakes behind a real DdeServer,
// served by this thread's event loop, against DDE clients in threads of their
// own (requests, pokes, hot and warm links) and against dervix-link.exe; "KILL" ends a serving program of its own,
// this test binary started again with --serve.
#include <QtTest>

#include "platform/win/WinApi.h"
#include <ddeml.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "platform/qt/win/DdeServer.h"
#include "shell/LinkProtocol.h"
#include "support/Rig.h"

Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

constexpr int kWait = 20000;  // ms; only ever waited out on failure

struct Reply {
    bool connected = false;
    bool accepted = false;
    std::string data;  // a request's text
    UINT error = 0;
};

thread_local HDDEDATA t_completion = nullptr;  // of an asynchronous transaction
thread_local bool t_completed = false;
// The texts of advise loops, a warm link's notice as "-" (a pointer: a
// thread_local with a destructor is not safe with mingw-w64's threads).
thread_local std::vector<std::string>* t_advised = nullptr;

HDDEDATA CALLBACK ClientCallback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    if (type == XTYP_XACT_COMPLETE) {
        t_completion = data;
        t_completed = true;
    }
    if (type != XTYP_ADVDATA || !t_advised) return nullptr;
    t_advised->push_back(data ? reinterpret_cast<const char*>(DdeAccessData(data, nullptr)) : "-");
    return reinterpret_cast<HDDEDATA>(DDE_FACK);
}

// One transaction in a conversation of its own, as dervix-link makes it
// (Wine follows a request's data with a stray acknowledgement that a second
// request would take for its refusal). Under Wine a client waiting
// synchronously answers no other client's call for a conversation; one
// waiting with TIMEOUT_ASYNC does, but learns nothing of a poke's refusal.
// gaveUp is set when the transaction has returned, before the conversation ends.
Reply Transact(UINT type, const std::wstring& item, std::string text = {}, DWORD timeout = kWait,
               UINT format = CF_TEXT, const wchar_t* topic = L"Server", const wchar_t* service = L"Dervix",
               std::atomic<bool>* gaveUp = nullptr) {
    Reply reply;
    DWORD instance = 0;
    DdeInitializeW(&instance, &ClientCallback, APPCMD_CLIENTONLY, 0);
    const auto handle = [instance](const wchar_t* s) { return DdeCreateStringHandleW(instance, s, CP_WINUNICODE); };
    const HCONV conversation = DdeConnect(instance, handle(service), handle(topic), nullptr);
    reply.connected = conversation != nullptr;
    if (conversation) {
        const bool request = type == XTYP_REQUEST;
        DWORD result = 0;
        const HDDEDATA data = DdeClientTransaction(request ? nullptr : reinterpret_cast<BYTE*>(text.data()),
                                                   request ? 0 : DWORD(text.size() + 1), conversation,
                                                   handle(item.c_str()), format, type, timeout, &result);
        reply.error = DdeGetLastError(instance);
        reply.accepted = data && (request || (LOWORD(result) & DDE_FACK));  // Wine: TRUE for a refused poke
        for (MSG m; timeout == TIMEOUT_ASYNC && data && !t_completed && GetMessageW(&m, nullptr, 0, 0) > 0;)
            DispatchMessageW(&m);
        if (timeout == TIMEOUT_ASYNC) reply.accepted = t_completed && t_completion;
        if (data && request) reply.data = reinterpret_cast<const char*>(DdeAccessData(data, nullptr));
        if (gaveUp) *gaveUp = true;
        DdeDisconnect(conversation);
    }
    DdeUninitialize(instance);
    return reply;
}

// Advise loops on item, each in a conversation of its own, as spreadsheet
// cells make them; started is set once they are. With ownPoke, the first
// loop's conversation first pokes that text into the item, as a cell that
// both follows and sets it does; pokedOwn tells whether it was accepted.
// Then the texts that come, until each loop has had one (nothing is awaited
// for refused loops).
std::vector<std::string> Advise(const std::wstring& item, UINT format, bool warm, int loops,
                                std::atomic<int>& started, std::string ownPoke = {}, bool* pokedOwn = nullptr) {
    std::vector<std::string> advised;
    t_advised = &advised;
    std::vector<DWORD> instances(std::size_t(loops), 0);
    std::vector<HCONV> conversations;
    int accepted = 0;
    for (DWORD& instance : instances) {
        DdeInitializeW(&instance, &ClientCallback, APPCMD_CLIENTONLY, 0);
        const auto handle = [instance](const wchar_t* s) { return DdeCreateStringHandleW(instance, s, CP_WINUNICODE); };
        const HCONV conversation = DdeConnect(instance, handle(L"Dervix"), handle(L"Server"), nullptr);
        accepted += conversation && DdeClientTransaction(nullptr, 0, conversation, handle(item.c_str()), format,
                                                         XTYP_ADVSTART | (warm ? XTYPF_NODATA : 0), kWait, nullptr);
        conversations.push_back(conversation);
    }
    if (pokedOwn && conversations[0]) {
        DWORD result = 0;
        const HSZ name = DdeCreateStringHandleW(instances[0], item.c_str(), CP_WINUNICODE);
        *pokedOwn = DdeClientTransaction(reinterpret_cast<BYTE*>(ownPoke.data()), DWORD(ownPoke.size() + 1),
                                         conversations[0], name, CF_TEXT, XTYP_POKE, kWait, &result) &&
                    (LOWORD(result) & DDE_FACK);
    }
    started = accepted;
    const UINT_PTR timeOut = SetTimer(nullptr, 0, kWait, nullptr);
    for (MSG m; advised.size() < std::size_t(accepted) && GetMessageW(&m, nullptr, 0, 0) > 0;) {
        if (m.message == WM_TIMER && m.wParam == timeOut) break;
        DispatchMessageW(&m);
    }
    KillTimer(nullptr, timeOut);
    for (const DWORD instance : instances) DdeUninitialize(instance);
    t_advised = nullptr;
    return advised;
}

bool Ready(const std::future<Reply>& reply, int ms = 0) {
    return reply.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready;
}

// A client in another thread, this one serving events meanwhile.
template <typename F>
std::future<Reply> Start(F client) {
    return std::async(std::launch::async, client);
}
template <typename F>
Reply Served(F client) {
    auto reply = Start(client);
    return QTest::qWaitFor([&] { return Ready(reply); }, kWait) ? reply.get() : Reply{};
}
Reply Request(const std::wstring& item) {
    return Served([item] { return Transact(XTYP_REQUEST, item); });
}

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

// dervix-link.exe, with this thread serving events until it has ended.
Run DervixLink(const QStringList& args) {
    QProcess p;
    p.start(qEnvironmentVariable("DERVIX_BIN_DIR", QCoreApplication::applicationDirPath() + "/..") +
                "/dervix-link.exe",
            args);
    if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, kWait)) return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// The serving program of the "KILL" test: prints "ready" once it serves and
// ends with status 0 when a KILL request ends it.
int Serve(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    dervix::test::Rig rig;
    rig.startAndAnswerCheck();
    dervix::LinkProtocol protocol(*rig.w);
    dervix::DdeServer server([&](const std::string& line, dervix::LinkWatcher& client) {
        try {
            return protocol.handle(line, &client);
        } catch (const dervix::test::ProgramEnded&) {
            std::fflush(nullptr);
            std::_Exit(0);  // ends at once, as the real program does
        }
    });
    if (!server.listen("Dervix")) return 3;
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

}  // namespace

class TestDdeServer : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup() { server_.reset(); }
    void transactions_data();
    void transactions();
    void connections_data();
    void connections();
    void adviseLoops_data();
    void adviseLoops();
    void pokeAnsweredOnceHandled();
    void clientGivingUpWhileHandled();
    void closedWhileHandled();
    void serviceFromProgramName();
    void dervixLink_data();
    void dervixLink();
    void killThroughDervixLink();

private:
    std::unique_ptr<dervix::test::Rig> rig_;
    std::unique_ptr<dervix::LinkProtocol> protocol_;
    std::unique_ptr<dervix::DdeServer> server_;
    std::vector<std::string> lines_;
    // Runs inside a poke's handler before it goes on, as a box waiting for
    // the operator serves events meanwhile.
    std::function<void()> whileHeld_;
};

void TestDdeServer::init() {
    rig_ = std::make_unique<dervix::test::Rig>();
    rig_->startAndAnswerCheck();
    protocol_ = std::make_unique<dervix::LinkProtocol>(*rig_->w);
    lines_.clear();
    server_ = std::make_unique<dervix::DdeServer>([this](const std::string& line, dervix::LinkWatcher& client) {
        lines_.push_back(line);
        if (whileHeld_ && line.rfind("POKE ", 0) == 0) std::exchange(whileHeld_, nullptr)();
        return protocol_->handle(line, &client);
    });
    QVERIFY2(server_->listen("Dervix"), qPrintable(server_->errorString()));
}

void TestDdeServer::transactions_data() {
    QTest::addColumn<uint>("type");
    QTest::addColumn<QString>("item");
    QTest::addColumn<std::string>("text");
    QTest::addColumn<uint>("format");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<std::string>("after");  // a request's data; txtFlowRate after a poke
    QTest::addColumn<std::string>("line");   // what the handler was asked; empty: nothing
    const uint get = XTYP_REQUEST, poke = XTYP_POKE, text = CF_TEXT;
    const std::string none, bytes("\xe9 a\\r\r\n\\"), same("20");
    QTest::newRow("request label") << get << "Label3" << none << text << true << std::string("Flow Rate")
                                   << std::string("REQUEST Label3");
    QTest::newRow("request in other case") << get << "TXTflowRATE" << none << text << true << same
                                           << std::string("REQUEST txtFlowRate");
    QTest::newRow("request unknown item") << get << "vaSplit" << none << text << false << none << none;
    QTest::newRow("request as Unicode") << get << "Label3" << none << uint(CF_UNICODETEXT) << false << none << none;
    QTest::newRow("poke field") << poke << "TXTFLOWRATE" << std::string("12.5") << text << true << std::string("12.5")
                                << std::string("POKE txtFlowRate 12.5");
    QTest::newRow("poke bytes as they are") << poke << "txtFlowRate" << bytes << text << true << bytes
                                            << std::string("POKE txtFlowRate \xc3\xa9 a\\\\r\\r\\n\\\\");
    // A cell's closing CR LF is left out where a value is meant; a reply
    // placed in the response slot is complete only with it.
    QTest::newRow("poke field, a cell's CR LF") << poke << "txtFlowRate" << std::string("12\r\n") << text << true
                                                << std::string("12") << std::string("POKE txtFlowRate 12");
    QTest::newRow("poke request, a cell's CR LF") << poke << "TXTDVXSCMD" << std::string("STATUS\r\n") << text
                                                  << true << same << std::string("POKE txtDVXScmd STATUS");
    QTest::newRow("poke a reply, its CR LF kept") << poke << "DervixResp" << std::string("G1\r\n") << text << true
                                                  << same << std::string("POKE DervixResp G1\\r\\n");
    QTest::newRow("poke label") << poke << "Label3" << std::string("x") << text << false << same
                                << std::string("POKE Label3 x");
    QTest::newRow("execute") << uint(XTYP_EXECUTE) << "" << std::string("[KILL]") << text << false << same << none;
}

void TestDdeServer::transactions() {
    QFETCH(uint, type);
    QFETCH(QString, item);
    QFETCH(std::string, text);
    QFETCH(uint, format);
    QFETCH(bool, accepted);
    QFETCH(std::string, after);
    QFETCH(std::string, line);
    const Reply reply = Served([&] { return Transact(type, item.toStdWString(), text, kWait, format); });
    QVERIFY(reply.connected);
    QCOMPARE(reply.accepted, accepted);
    QCOMPARE(lines_, line.empty() ? std::vector<std::string>{} : std::vector<std::string>{line});
    QCOMPARE(type == XTYP_REQUEST ? reply.data : Request(L"txtFlowRate").data, after);
    QCOMPARE(rig_->w->Label3.caption(), std::string("Flow Rate"));
}

void TestDdeServer::connections_data() {
    QTest::addColumn<QString>("service");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<bool>("connects");
    QTest::newRow("the link") << "Dervix" << "Server" << true;
    QTest::newRow("any letter case") << "DERVIX" << "server" << true;
    QTest::newRow("other topic") << "Dervix" << "System" << false;
    QTest::newRow("other service") << "Dervi" << "Server" << false;
}

void TestDdeServer::connections() {
    QFETCH(QString, service);
    QFETCH(QString, topic);
    QFETCH(bool, connects);
    const Reply reply = Served([&] {
        return Transact(XTYP_REQUEST, L"Label3", {}, kWait, CF_TEXT, topic.toStdWString().c_str(),
                        service.toStdWString().c_str());
    });
    QCOMPARE(reply.connected, connects);
    QCOMPARE(reply.data, std::string(connects ? "Flow Rate" : ""));
}

// A spreadsheet's cell linked to a field: the formula's hot link, or a warm
// one, gets each new text, here from another client's poke, and the poke's
// CR LF, as a spreadsheet sends a cell, is not part of the text.
void TestDdeServer::adviseLoops_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<uint>("format");
    QTest::addColumn<bool>("warm");
    QTest::addColumn<int>("loops");
    QTest::addColumn<std::string>("poked");
    QTest::addColumn<std::vector<std::string>>("advised");
    QTest::addColumn<bool>("own");  // poked on the first loop's own conversation
    const std::vector<std::string> none;
    const uint text = CF_TEXT;
    QTest::newRow("hot link, poke with CR LF") << "txtFlowRate" << text << false << 1 << std::string("7\r\n")
                                               << std::vector<std::string>{"7"} << false;
    QTest::newRow("warm link in other case") << "TXTFLOWRATE" << text << true << 1 << std::string("8")
                                             << std::vector<std::string>{"-"} << false;
    QTest::newRow("two conversations") << "txtFlowRate" << text << false << 2 << std::string("9")
                                       << std::vector<std::string>{"9", "9"} << false;
    QTest::newRow("unknown item") << "vaSplit" << text << false << 1 << std::string("6") << none << false;
    QTest::newRow("as Unicode") << "txtFlowRate" << uint(CF_UNICODETEXT) << false << 1 << std::string("6") << none
                                << false;
    // The update must follow the poke's acknowledgement, or Wine's client
    // takes it for that and its advise callback never hears of it.
    QTest::newRow("hot link poked on its own conversation")
        << "txtFlowRate" << text << false << 1 << std::string("10\r\n") << std::vector<std::string>{"10"} << true;
    QTest::newRow("warm link poked on its own conversation")
        << "txtFlowRate" << text << true << 1 << std::string("11") << std::vector<std::string>{"-"} << true;
    QTest::newRow("two conversations, poked on the first's")
        << "txtFlowRate" << text << false << 2 << std::string("12") << std::vector<std::string>{"12", "12"} << true;
}

void TestDdeServer::adviseLoops() {
    QFETCH(QString, item);
    QFETCH(uint, format);
    QFETCH(bool, warm);
    QFETCH(int, loops);
    QFETCH(std::string, poked);
    QFETCH(std::vector<std::string>, advised);
    QFETCH(bool, own);
    // Wine's DdePostAdvise hands the item's name to all the loops on it with
    // one reference, and each client lets one go: a second loop would find
    // no name and drop the text. The test holds a reference for it.
    for (int i = 1; i < loops; ++i) GlobalAddAtomW(reinterpret_cast<LPCWSTR>(item.utf16()));
    std::atomic<int> started = -1;
    bool pokedOwn = false;
    auto loopsDone = std::async(std::launch::async, [&] {
        return Advise(item.toStdWString(), format, warm, loops, started, poked, own ? &pokedOwn : nullptr);
    });
    QVERIFY(QTest::qWaitFor([&] { return started >= 0; }, kWait));
    QCOMPARE(started.load(), int(advised.size()));
    if (own)
        QVERIFY(pokedOwn);
    else
        QVERIFY(Served([&] { return Transact(XTYP_POKE, L"txtFlowRate", poked); }).accepted);
    QVERIFY(QTest::qWaitFor([&] { return loopsDone.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                            kWait));
    QCOMPARE(loopsDone.get(), advised);
    const std::string bare = poked.substr(0, poked.find('\r'));
    QCOMPARE(rig_->w->txtFlowRate.text(), bare);
    QCOMPARE(rig_->profile.get("FlowRate"), bare);
}

void TestDdeServer::pokeAnsweredOnceHandled() {
    std::future<Reply> poke;
    Reply meanwhile;
    bool answeredEarly = true;
    whileHeld_ = [&] {
        meanwhile = Request(L"Label5");
        answeredEarly = Ready(poke, 200);
    };
    poke = Start([] { return Transact(XTYP_POKE, L"txtFlowRate", "3", TIMEOUT_ASYNC); });
    QVERIFY(QTest::qWaitFor([&] { return Ready(poke); }, kWait));
    QVERIFY(poke.get().accepted);
    QVERIFY(!answeredEarly);
    QCOMPARE(meanwhile.data, std::string("mL/min"));
    QCOMPARE(rig_->w->txtFlowRate.text(), std::string("3"));
    QCOMPARE(lines_, (std::vector<std::string>{"POKE txtFlowRate 3", "REQUEST Label5"}));
}

void TestDdeServer::clientGivingUpWhileHandled() {
    std::atomic<bool> gaveUp = false;
    std::future<Reply> poke;
    bool endedMeanwhile = true;
    whileHeld_ = [&] {
        QVERIFY(QTest::qWaitFor([&] { return gaveUp.load(); }, kWait));
        // The client ends its conversation and waits to hear it ended, which
        // must wait until this handler has returned.
        endedMeanwhile = QTest::qWaitFor([&] { return Ready(poke); }, 2000);
    };
    poke = Start(
        [&] { return Transact(XTYP_POKE, L"txtFlowRate", "4", 300, CF_TEXT, L"Server", L"Dervix", &gaveUp); });
    QVERIFY(QTest::qWaitFor([&] { return Ready(poke); }, kWait));
    QVERIFY(!endedMeanwhile);
    QCOMPARE(poke.get().error, UINT(DMLERR_POKEACKTIMEOUT));
    QCOMPARE(Request(L"txtFlowRate").data, std::string("4"));
}

void TestDdeServer::closedWhileHandled() {
    whileHeld_ = [this] { server_->close(); };
    auto poke = Start([] { return Transact(XTYP_POKE, L"txtFlowRate", "5", TIMEOUT_ASYNC); });
    QVERIFY(QTest::qWaitFor([&] { return Ready(poke); }, kWait));
    QVERIFY(poke.get().accepted);
    QCOMPARE(rig_->w->txtFlowRate.text(), std::string("5"));
    QVERIFY(!Request(L"Label3").connected);
}

void TestDdeServer::serviceFromProgramName() {
    QCOMPARE(dervix::DdeServer::programServiceName(), QStringLiteral("tst_ddeserver"));
}

void TestDdeServer::dervixLink_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::addColumn<std::string>("field");  // txtFlowRate afterwards
    const std::string same("20");
    QTest::newRow("get") << QStringList{"get", "Label3"} << 0 << QByteArray("Flow Rate\n") << QByteArray() << same;
    QTest::newRow("set") << QStringList{"set", "txtFlowRate", QString::fromUtf8("1\\2 \xc3\xa9")} << 0
                         << QByteArray() << QByteArray() << std::string("1\\2 \xe9");
    QTest::newRow("set label") << QStringList{"set", "Label3", "x"} << 1 << QByteArray()
                               << QByteArray("dervix-link: the program refused to set Label3\n") << same;
    QTest::newRow("get unknown item") << QStringList{"get", "vaSplit"} << 1 << QByteArray()
                                      << QByteArray("dervix-link: the program refused to read vaSplit\n") << same;
    QTest::newRow("beyond Latin-1") << QStringList{"set", "txtFlowRate", QString::fromUtf8("\xe2\x82\xac")} << 1
                                    << QByteArray() << QByteArray("dervix-link: character not in Latin-1\n") << same;
}

void TestDdeServer::dervixLink() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(std::string, field);
    const Run run = DervixLink(args);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, out);
    QCOMPARE(run.err, err);
    QCOMPARE(rig_->w->txtFlowRate.text(), field);
}

void TestDdeServer::killThroughDervixLink() {
    server_->close();
    QProcess program;
    program.start(QCoreApplication::applicationFilePath(), {"--serve"});
    QVERIFY(program.waitForReadyRead(kWait));
    QCOMPARE(program.readLine().trimmed(), QByteArray("ready"));
    const Run run = DervixLink({"set", "txtDVXScmd", "kill"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    QVERIFY(QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, kWait));
    QCOMPARE(program.exitCode(), 0);
    const Run after = DervixLink({"get", "Label3"});
    QCOMPARE(after.exitCode, 2);
    QVERIFY2(after.err.startsWith("dervix-link: cannot reach the program"), after.err.constData());
}

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--serve") return Serve(argc, argv);
    QCoreApplication app(argc, argv);
    TestDdeServer test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ddeserver.moc"
