#pragma once
// The link for other programs on Windows: a DDE server through the DDE
// management library. Service: the program's file name without its extension
// ("Dervix" for Dervix.exe); topic: "Server". Each transaction becomes one
// line of the link's protocol for the same handler that serves the socket
// link elsewhere, so the rules of what may be read and set live in one place:
//
//   request of an item as CF_TEXT  ->  "REQUEST <item>"       "OK <text>" is the data, else none
//   poke of an item as CF_TEXT     ->  "POKE <item> <text>"   "OK" acknowledges, else refused
//                                      (a CR LF at the end of the text, as a
//                                      spreadsheet sends a cell, left out of
//                                      txtFlowRate's and txtDVXScmd's)
//   advise start (hot or warm link) ->  "WATCH <item>"        accepted on "OK <text>"
//   each change of a watched item  ->  DdePostAdvise; the library asks for the
//                                      text of each loop as a request (a change
//                                      made inside a transaction is posted once
//                                      it has been answered)
//
// Other topics, other clipboard formats, executes are refused, and so are
// items that are not among the protocol's item names. Names match without
// regard to letter case, as everywhere in DDE.
//
// Texts travel byte for byte: each byte of CF_TEXT is one character of the
// field, which holds Latin-1. A client on a Western code page (1252) reads
// every printable character as the program shows it, and what it pokes
// reaches the module's line unchanged whatever its code page; the text ends
// at its first NUL.
//
// A transaction is handled inside the library's callback and answered when
// the handler returns, like the socket link's POKE: a poke may open a box and
// wait for the operator, and the box's event loop keeps serving other
// clients meanwhile. A synchronous client meanwhile waits as long as its own
// time-out allows; when that runs out it gives up and ends its conversation,
// and that end is held back until the handler has returned, because the
// library would otherwise free the conversation under the callback still
// running for it. (Blocking the callback and answering later through
// DdeEnableCallback is the library's other way, but Wine answers a blocked
// poke at once with a refusal.)
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

#include "shell/LinkProtocol.h"

namespace dervix {

class DdeServer : public QObject {
public:
    // One request line in, one answer out, as for the socket link; client
    // stands for every advise loop of this server.
    using Handler = std::function<std::string(const std::string& line, LinkWatcher& client)>;

    explicit DdeServer(Handler handler, QObject* parent = nullptr);
    ~DdeServer() override;

    // The running program's file name without its extension.
    static QString programServiceName();

    // Offers the service with the topic "Server", served by the message loop
    // of this thread. One server at a time listens in a program. False with
    // errorString() when the DDE library refuses.
    bool listen(const QString& service = programServiceName());
    void close();
    bool isListening() const { return instance_ != 0; }
    QString serviceName() const { return service_; }
    QString errorString() const { return error_; }

private:
    std::shared_ptr<const Handler> handler_;
    unsigned long instance_ = 0;
    QString service_;
    QString error_;
};

}  // namespace dervix
