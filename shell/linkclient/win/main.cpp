// dervix-link on Windows: a DDE client of the running program, service
// "Dervix", topic "Server": one transaction per run, or for watch a hot link
// on each item. The command line is in LinkClientCommand.h; texts travel as
// CF_TEXT, one byte per character of the field (Latin-1).
#include "platform/win/WinApi.h"
// Left out by WIN32_LEAN_AND_MEAN.
#include <ddeml.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/win/WinText.h"
#include "shell/LinkProtocol.h"
#include "shell/linkclient/LinkClientCommand.h"

using namespace dervix::linkclient;

namespace {

// Long enough for any box the operator may have open meanwhile; a program
// that has ended is noticed at once (see WatchServer).
constexpr DWORD kAnswerTimeoutMs = 60 * 60 * 1000;
constexpr const char* kNoServer =
    "cannot reach the program: no DDE service \"Dervix\" with the topic \"Server\" (is it running?)";

std::vector<std::string> Arguments() {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; ++i) args.push_back(dervix::win::Narrow(wide[i]));
    LocalFree(wide);
    return args;
}

// A pipe or file gets the text's UTF-8 bytes, the same bytes as on Linux; a
// console gets it with its control characters escaped when escapeOnConsole
// is set (what watch prints is escaped already), so no text can steer it.
void PrintLine(const std::string& latin1, bool escapeOnConsole = false) {
    DWORD mode = 0;
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (GetConsoleMode(out, &mode)) {
        const std::string shown = escapeOnConsole ? dervix::LinkEscapeLatin1(latin1) : latin1;
        std::wstring wide(shown.begin(), shown.end());  // Latin-1 is the first 256 code points
        wide += L"\r\n";
        DWORD written = 0;
        WriteConsoleW(out, wide.data(), DWORD(wide.size()), &written, nullptr);
        return;
    }
    const std::string bytes = dervix::Latin1ToUtf8(latin1) + "\n";
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);  // a script reading the pipe sees each change at once
}

// CF_TEXT up to its first NUL.
std::string DataText(HDDEDATA data) {
    DWORD size = 0;
    const BYTE* bytes = DdeAccessData(data, &size);
    std::string text(reinterpret_cast<const char*>(bytes), bytes ? size : 0);
    DdeUnaccessData(data);
    const std::size_t end = text.find('\0');
    if (end != std::string::npos) text.resize(end);
    return text;
}

HDDEDATA CALLBACK Callback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }

// The items watched, by their conversations.
std::vector<std::pair<HCONV, std::string>> g_watched;

HDDEDATA CALLBACK WatchCallback(UINT type, UINT, HCONV conversation, HSZ, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    if (type == XTYP_DISCONNECT) PostQuitMessage(0);
    if (type != XTYP_ADVDATA) return nullptr;
    for (const auto& [watching, name] : g_watched)
        if (watching == conversation && data) PrintLine(name + " " + dervix::LinkEscapeLatin1(DataText(data)));
    return reinterpret_cast<HDDEDATA>(DDE_FACK);
}

std::mutex g_answered;
bool g_hasAnswer = false;

// A program that ends (as "KILL" asks, or any other way) sends no answer,
// and under Wine the library waits out the whole time limit all the same:
// this thread watches the serving process and ends the wait, as the socket
// link's client sees the connection close.
void WatchServer(HWND server, bool kill, const char* ended = "the program closed the link without answering") {
    DWORD processId = 0;
    if (!GetWindowThreadProcessId(server, &processId)) return;
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process) return;
    std::thread([process, kill, ended] {
        WaitForSingleObject(process, INFINITE);
        const std::lock_guard lock(g_answered);
        if (g_hasAnswer) return;
        std::fflush(stdout);
        ExitProcess(kill ? kDone : Fail(ended));
    }).detach();
}

// The program's end of a conversation.
HWND ServerWindow(HCONV conversation) {
    CONVINFO info{};
    info.cb = sizeof info;
    return DdeQueryConvInfo(conversation, QID_SYNC, &info) ? info.hwndPartner : nullptr;
}

int Transact(DWORD instance, const Command& command, const std::string& latin1Text) {
    const auto handle = [instance](const wchar_t* text) {
        return DdeCreateStringHandleW(instance, text, CP_WINUNICODE);
    };
    const HCONV conversation = DdeConnect(instance, handle(L"Dervix"), handle(L"Server"), nullptr);
    if (!conversation)
        return Fail(kNoServer);
    const HWND server = ServerWindow(conversation);
    WatchServer(server, IsKill(command));

    const std::wstring item = dervix::win::Widen(command.item);
    std::string data = latin1Text;  // with its closing NUL, as CF_TEXT has it
    DWORD result = 0;
    const HDDEDATA reply = DdeClientTransaction(
        command.set ? reinterpret_cast<BYTE*>(data.data()) : nullptr, command.set ? DWORD(data.size() + 1) : 0,
        conversation, handle(item.c_str()), CF_TEXT, command.set ? XTYP_POKE : XTYP_REQUEST, kAnswerTimeoutMs, &result);
    {
        // From here the watcher leaves the outcome to this thread.
        const std::lock_guard lock(g_answered);
        g_hasAnswer = true;
    }
    const UINT error = reply ? DMLERR_NO_ERROR : DdeGetLastError(instance);
    if (!reply && server && !IsWindow(server)) {
        if (IsKill(command)) return kDone;  // the program has ended as asked
        return Fail("the program closed the link without answering");
    }
    if (error == DMLERR_DATAACKTIMEOUT || error == DMLERR_POKEACKTIMEOUT)
        return Fail("no answer from the program within " + std::to_string(kAnswerTimeoutMs / 60000) + " minutes");
    // A refused poke shows in the acknowledgement's flags; Wine returns TRUE
    // for it all the same.
    if (!reply || (command.set && !(LOWORD(result) & DDE_FACK)))
        return Refused("the program refused to " + std::string(command.set ? "set " : "read ") + command.item);
    if (!command.set) {
        PrintLine(DataText(reply), true);
        DdeFreeDataHandle(reply);
    }
    DdeDisconnect(conversation);
    return kDone;
}

// Each item in a conversation of its own (the library has one conversation
// per service and topic in an instance): a hot link, then a request for the
// text now. A change that comes before the request's answer arrives first,
// so the lines come in the order of the changes. Until the program ends.
int Watch(const Command& command) {
    for (const std::string& name : command.watched) {
        DWORD instance = 0;
        if (DdeInitializeW(&instance, &WatchCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
            return Fail("cannot use DDE on this system");
        const auto handle = [instance](const std::wstring& text) {
            return DdeCreateStringHandleW(instance, text.c_str(), CP_WINUNICODE);
        };
        const HCONV conversation = DdeConnect(instance, handle(L"Dervix"), handle(L"Server"), nullptr);
        if (!conversation)
            return Fail(kNoServer);
        if (g_watched.empty()) WatchServer(ServerWindow(conversation), false, "the program closed the link");
        g_watched.emplace_back(conversation, name);
        const HSZ item = handle(dervix::win::Widen(name));
        if (!DdeClientTransaction(nullptr, 0, conversation, item, CF_TEXT, XTYP_ADVSTART, kAnswerTimeoutMs, nullptr))
            return Refused("the program refused to watch " + name);
        const HDDEDATA now =
            DdeClientTransaction(nullptr, 0, conversation, item, CF_TEXT, XTYP_REQUEST, kAnswerTimeoutMs, nullptr);
        if (!now) return Refused("the program refused to read " + name);
        PrintLine(name + " " + dervix::LinkEscapeLatin1(DataText(now)));
        DdeFreeDataHandle(now);
    }
    for (MSG message; GetMessageW(&message, nullptr, 0, 0) > 0;) DispatchMessageW(&message);
    return Fail("the program closed the link");
}

}  // namespace

int main() {
    // The same bytes as on Linux: no CR is added before LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    const auto parsed = ParseCommandLine(Arguments());
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    const Command& command = std::get<Command>(parsed);
    const auto text = dervix::Utf8ToLatin1(command.text);
    if (!text) return Refused("character not in Latin-1");
    if (command.watch) return Watch(command);

    DWORD instance = 0;
    if (DdeInitializeW(&instance, &Callback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
        return Fail("cannot use DDE on this system");
    const int status = Transact(instance, command, *text);
    std::fflush(stdout);
    DdeUninitialize(instance);
    return status;
}
