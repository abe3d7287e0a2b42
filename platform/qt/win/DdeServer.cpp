#include "platform/qt/win/DdeServer.h"

#include "platform/win/WinApi.h"
// Left out by WIN32_LEAN_AND_MEAN.
#include <dde.h>
#include <ddeml.h>

#include <QCoreApplication>
#include <QFileInfo>

#include <map>
#include <set>
#include <utility>
#include <vector>

#include "shell/LinkProtocol.h"

namespace dervix {

namespace {

// The listening server's side, for the library's callback, which carries no
// pointer of ours; hence one server at a time.
struct Served final : LinkWatcher {
    DWORD instance = 0;
    HSZ service = nullptr;
    HSZ topic = nullptr;
    // Held while the server lives, so that a client's spelling of an item,
    // in whatever letter case, names the same string and finds it here.
    std::vector<std::pair<HSZ, std::string>> items;
    std::shared_ptr<const DdeServer::Handler> handler;

    // An item that an advise loop was started on has changed: the library
    // asks for its text (XTYP_ADVREQ) once for each loop on it, and posts it.
    // An item whose loops have all ended is still watched here, which costs a
    // look for loops that finds none.
    void changed(std::string_view item, const std::string&) override;
    void post(std::string_view item) const {
        for (const auto& [handle, name] : items)
            if (name == item) DdePostAdvise(instance, topic, handle);
    }
};
std::shared_ptr<Served> g_served;
// Callbacks running now, nested ones counted.
int g_depth = 0;
// Instances closed while a callback ran: the library still uses them until
// that callback has returned into it.
std::vector<DWORD> g_closeLater;
// Items changed while a callback ran, posted once it has returned.
std::set<std::string, std::less<>> g_postLater;

// A change inside a callback is a poke's doing (or of what ran while it was
// handled), and the poking client still waits for its acknowledgement, which
// the library sends when the callback returns. An update posted now would
// reach that client first: Windows lets it through, but Wine's client takes
// an update of the poked item for the acknowledgement and never hands it to
// the advise callback. So it goes once the outermost callback has returned,
// with the text the item has then.
void Served::changed(std::string_view item, const std::string&) {
    if (g_depth > 0)
        g_postLater.emplace(item);
    else
        post(item);
}

// Conversations whose handler runs: their window's own procedure and the
// ends of conversation held back meanwhile.
struct Held {
    WNDPROC original = nullptr;
    int handlers = 0;
    std::vector<std::pair<WPARAM, LPARAM>> ends;
};
std::map<HWND, Held> g_held;

LRESULT CALLBACK HoldingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto held = g_held.find(window);
    if (held == g_held.end()) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_DDE_TERMINATE) {
        held->second.ends.emplace_back(wParam, lParam);
        return 0;
    }
    return CallWindowProcW(held->second.original, window, message, wParam, lParam);
}

// While it lives, the conversation's end waits: a client that gives up on a
// long poke ends its conversation, and the library would free it under the
// callback that is still handling the poke.
class HoldConversation {
public:
    explicit HoldConversation(HCONV conversation) {
        CONVINFO info{};
        info.cb = sizeof info;
        if (!DdeQueryConvInfo(conversation, QID_SYNC, &info) || !info.hwnd) return;
        window_ = info.hwnd;
        auto [held, added] = g_held.try_emplace(window_);
        if (added)
            held->second.original = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HoldingProc)));
        ++held->second.handlers;
    }
    ~HoldConversation() {
        if (!window_) return;
        const auto held = g_held.find(window_);
        if (--held->second.handlers > 0) return;
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(held->second.original));
        // Posted, so they arrive once the library has answered the transaction.
        for (const auto& [wParam, lParam] : held->second.ends) PostMessageW(window_, WM_DDE_TERMINATE, wParam, lParam);
        g_held.erase(held);
    }
    HoldConversation(const HoldConversation&) = delete;
    HoldConversation& operator=(const HoldConversation&) = delete;

private:
    HWND window_ = nullptr;
};

HDDEDATA Flag(UINT_PTR value) { return reinterpret_cast<HDDEDATA>(value); }

const std::string* ItemName(const Served& served, HSZ item) {
    for (const auto& [handle, name] : served.items)
        if (DdeCmpStringHandles(handle, item) == 0) return &name;
    return nullptr;
}

// CF_TEXT up to its first NUL.
std::string ReadText(HDDEDATA data) {
    DWORD size = 0;
    const BYTE* bytes = DdeAccessData(data, &size);
    if (!bytes) return {};
    std::string text(reinterpret_cast<const char*>(bytes), size);
    DdeUnaccessData(data);
    const std::size_t end = text.find('\0');
    if (end != std::string::npos) text.resize(end);
    return text;
}

// A request's answer as CF_TEXT data; none when it was refused.
HDDEDATA TextData(const Served& served, HSZ item, const std::string& answer) {
    if (answer.rfind("OK ", 0) != 0) return nullptr;
    const auto utf8 = LinkUnescape(std::string_view(answer).substr(3));
    auto text = utf8 ? Utf8ToLatin1(*utf8) : std::nullopt;
    if (!text) return nullptr;
    // With the string's closing NUL, as CF_TEXT has it.
    return DdeCreateDataHandle(served.instance, reinterpret_cast<BYTE*>(text->data()), DWORD(text->size() + 1), 0,
                               item, CF_TEXT, 0);
}

// A request or poke as a line of the protocol; a refusal is no data (request)
// or DDE_FNOTPROCESSED (poke), both 0.
HDDEDATA Transact(Served& served, UINT type, UINT format, HCONV conversation, HSZ item, HDDEDATA data) {
    const std::string* name = ItemName(served, item);
    if (format != CF_TEXT || !name) return nullptr;
    std::string line = "REQUEST " + *name;
    if (type == XTYP_POKE) {
        // A spreadsheet ends a cell's text with CR LF; a field that takes a
        // value gets the text without it, as if it had been typed. In the
        // response slot it is what completes a reply, and stays.
        std::string text = ReadText(data);
        const bool value = *name == "txtFlowRate" || *name == "txtDVXScmd";
        if (value && text.ends_with("\r\n")) text.resize(text.size() - 2);
        line = "POKE " + *name + " " + LinkEscape(Latin1ToUtf8(text));
    }
    std::string answer;
    {
        HoldConversation hold(conversation);
        answer = (*served.handler)(line, served);
    }
    if (type == XTYP_POKE) return Flag(answer == "OK" ? DDE_FACK : DDE_FNOTPROCESSED);
    return TextData(served, item, answer);
}

// A hot or warm link on an item: accepted for what a request may read, in
// CF_TEXT. The library keeps the loops, one for each conversation and item,
// and ends them with their conversation.
bool StartAdvise(Served& served, UINT format, HSZ item) {
    const std::string* name = ItemName(served, item);
    return format == CF_TEXT && name && (*served.handler)("WATCH " + *name, served).rfind("OK ", 0) == 0;
}

// The text for an advise loop, asked for by DdePostAdvise inside the change.
HDDEDATA AdviseData(Served& served, UINT format, HSZ item) {
    const std::string* name = ItemName(served, item);
    if (format != CF_TEXT || !name) return nullptr;
    return TextData(served, item, (*served.handler)("REQUEST " + *name, served));
}

// The updates held back while a callback ran, for the server listening now.
// Inside another callback by now (a box of a later poke serving events),
// they wait for that one.
void PostLater(const std::set<std::string, std::less<>>& items) {
    const std::shared_ptr<Served> served = g_served;
    if (!served) return;
    for (const std::string& item : items) served->changed(item, {});
}

// An exception must not unwind through the library's frames: noexcept ends
// the program at once instead, as any failure not caught does.
HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conversation, HSZ hsz1, HSZ hsz2, HDDEDATA data, ULONG_PTR,
                           ULONG_PTR) noexcept {
    // A handler may close the server; this keeps its side for the call.
    const std::shared_ptr<Served> served = g_served;
    if (!served) return nullptr;
    ++g_depth;
    HDDEDATA result = nullptr;
    // A warm link's start carries XTYPF_NODATA, one asking for
    // acknowledgements XTYPF_ACKREQ; the library itself acts on both.
    const UINT kind = type & ~UINT(XTYPF_NODATA | XTYPF_ACKREQ);
    if (kind == XTYP_CONNECT)
        result = Flag(DdeCmpStringHandles(hsz1, served->topic) == 0 && DdeCmpStringHandles(hsz2, served->service) == 0);
    else if (kind == XTYP_REQUEST || kind == XTYP_POKE)
        result = Transact(*served, kind, format, conversation, hsz2, data);
    else if (kind == XTYP_ADVSTART)
        result = Flag(StartAdvise(*served, format, hsz2));
    else if (kind == XTYP_ADVREQ)
        result = AdviseData(*served, format, hsz2);
    if (--g_depth == 0 && (!g_closeLater.empty() || !g_postLater.empty()) && QCoreApplication::instance()) {
        // After this callback has returned into the library.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [instances = std::exchange(g_closeLater, {}), items = std::exchange(g_postLater, {})] {
                PostLater(items);
                for (const DWORD instance : instances) DdeUninitialize(instance);
            },
            Qt::QueuedConnection);
    }
    return result;
}

}  // namespace

DdeServer::DdeServer(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::make_shared<const Handler>(std::move(handler))) {}

DdeServer::~DdeServer() { close(); }

QString DdeServer::programServiceName() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);  // cut off: try a longer buffer
    }
    return QFileInfo(QString::fromStdWString(path)).completeBaseName();
}

bool DdeServer::listen(const QString& service) {
    close();
    error_.clear();
    service_ = service;
    if (g_served) {
        error_ = QStringLiteral("Cannot offer the DDE service %1: this program already offers one").arg(service);
        return false;
    }
    DWORD instance = 0;
    const UINT status = DdeInitializeW(&instance, &Callback,
                                       APPCLASS_STANDARD | CBF_FAIL_EXECUTES |
                                           CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS |
                                           CBF_SKIP_CONNECT_CONFIRMS | CBF_SKIP_DISCONNECTS,
                                       0);
    const auto fail = [&](UINT error) {
        error_ = QStringLiteral("Cannot offer the DDE service %1: the DDE library reports error 0x%2")
                     .arg(service)
                     .arg(error, 4, 16, QLatin1Char('0'));
        if (instance) DdeUninitialize(instance);
        return false;
    };
    if (status != DMLERR_NO_ERROR) return fail(status);

    auto served = std::make_shared<Served>();
    served->instance = instance;
    served->handler = handler_;
    bool made = true;
    const auto handleOf = [&](const QString& text) {
        const HSZ handle = DdeCreateStringHandleW(instance, reinterpret_cast<LPCWSTR>(text.utf16()), CP_WINUNICODE);
        made = made && handle;
        return handle;
    };
    served->service = handleOf(service);
    served->topic = handleOf(QStringLiteral("Server"));
    for (const std::string_view name : kLinkItems)
        served->items.emplace_back(handleOf(QString::fromLatin1(name.data(), qsizetype(name.size()))), name);
    if (!made) return fail(DdeGetLastError(instance));
    // Before the name is offered: a client may connect at once.
    g_served = served;
    if (!DdeNameService(instance, served->service, nullptr, DNS_REGISTER)) {
        g_served.reset();
        return fail(DdeGetLastError(instance));
    }
    instance_ = instance;
    return true;
}

void DdeServer::close() {
    if (!instance_) return;
    if (g_served && g_served->instance == instance_) g_served.reset();
    // Ends every conversation and withdraws the name; not under a callback
    // that the library has yet to return from.
    if (g_depth > 0)
        g_closeLater.push_back(instance_);
    else
        DdeUninitialize(instance_);
    instance_ = 0;
}

}  // namespace dervix
