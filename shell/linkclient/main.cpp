// dervix-link on Linux: the link's socket in the runtime folder. The command
// line is in LinkClientCommand.h.
#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/posix/Runtime.h"
#include "shell/LinkProtocol.h"
#include "shell/linkclient/LinkClientCommand.h"

using namespace dervix::linkclient;

namespace {

void Print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);  // a script reading the pipe sees each change at once
}

// Follows the items until the program closes the link: their texts now (the
// answers to WATCH, in order), then each change as it is pushed.
int Watch(QLocalSocket& socket, const Command& command) {
    std::string requests;
    for (const std::string& item : command.watched) requests += "WATCH " + item + "\n";
    socket.write(requests.data(), qint64(requests.size()));
    socket.flush();
    std::size_t answered = 0;
    for (;;) {
        while (socket.canReadLine()) {
            QByteArray line = socket.readLine();
            line.chop(1);
            if (line.startsWith("CHANGED ")) {
                Print(line.mid(8).toStdString() + "\n");
            } else if (answered < command.watched.size() && line.startsWith("OK ")) {
                Print(WatchLine(command.watched[answered++], line.mid(3).toStdString()));
            } else if (answered < command.watched.size() && line.startsWith("ERR")) {
                return Refused(command.watched[answered] + ": " + line.mid(line.size() > 3 ? 4 : 3).toStdString());
            } else {
                return Fail("unexpected answer: " + line.toStdString());
            }
        }
        if (!socket.waitForReadyRead(-1) && !socket.canReadLine()) break;
    }
    return Fail("the program closed the link");
}

// The program at the other end runs as this user: the checks of the
// folder and the socket cannot see one swapped in between, this can.
bool ServedByThisUser(const QLocalSocket& socket) {
    struct ucred peer {};
    socklen_t size = sizeof peer;
    return ::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == ::geteuid();
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    const Command& command = std::get<Command>(parsed);
    const bool set = command.set;
    const std::string& item = command.item;
    const std::string& text = command.text;

    QCoreApplication app(argc, argv);
    const std::string folder = dervix::RuntimeFolderPath();
    const std::string server = folder + "/Server";
    // Nothing goes to a program that may not be this user's: without
    // XDG_RUNTIME_DIR the folder is in /tmp, where anyone may have made it.
    if (const std::string why = dervix::CheckRuntimeOwner(folder, server); !why.empty())
        return Fail("not talking to the program at " + server + ": " + why);
    const QString path = QFile::decodeName(QByteArray::fromStdString(server));
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(5000))
        return Fail("cannot reach the program at " + path.toStdString() + ": " + socket.errorString().toStdString() +
                    " (is it running?)");
    if (!ServedByThisUser(socket))
        return Fail("not talking to the program at " + server + ": it is served by another user");
    if (command.watch) return Watch(socket, command);

    const std::string request =
        (set ? "POKE " + item + " " + dervix::LinkEscape(text) : "REQUEST " + item) + "\n";
    socket.write(request.data(), qint64(request.size()));
    socket.flush();
    // No time limit: a request may wait behind a box the operator has open.
    while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState)
        if (!socket.waitForReadyRead(-1)) break;
    if (!socket.canReadLine()) {
        if (IsKill(command)) return kDone;  // the program has ended as asked
        return Fail("the program closed the link without answering");
    }
    QByteArray answer = socket.readLine();
    answer.chop(1);

    if (answer == "OK") return kDone;
    if (answer.startsWith("OK ")) {
        auto value = dervix::LinkUnescape(answer.mid(3).toStdString());
        if (!value) return Fail("garbled answer: " + answer.toStdString());
        if (!set) {
            // A script gets the text byte for byte; a terminal gets it as the
            // link writes it, so that a text holding ESC cannot steer it.
            const std::string shown = ::isatty(STDOUT_FILENO) ? dervix::LinkEscape(*value) : *value;
            std::fwrite(shown.data(), 1, shown.size(), stdout);
            std::fputc('\n', stdout);
        }
        return kDone;
    }
    if (answer.startsWith("ERR")) return Refused(answer.mid(answer.size() > 3 ? 4 : 3).toStdString());
    return Fail("unexpected answer: " + answer.toStdString());
}
