// dervix-link: reads and sets the running program's fields from a shell.
//
//   dervix-link get ITEM        prints the item's text
//   dervix-link set ITEM TEXT   sets a text field; returns once it is handled
//
// Exit status: 0 done, 1 the program refused the request, 2 wrong usage or
// no program to talk to.
#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/Runtime.h"
#include "shell/LinkProtocol.h"

namespace {

// Asked for, the usage goes to standard output and is no error.
int Usage(bool asked = false) {
    std::fputs("usage: dervix-link get ITEM\n"
               "       dervix-link set ITEM TEXT\n"
               "ITEM is one of txtFlowRate, txtDVXScmd, DervixResp, Label3, Label5 (labels cannot be set).\n",
               asked ? stdout : stderr);
    return asked ? 0 : 2;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "dervix-link: %s\n", message.c_str());
    return 2;
}

// The request field ends the program on this word, so no answer follows.
bool IsKill(const std::string& item, const std::string& text) {
    if (item != "txtDVXScmd") return false;
    std::string word;
    for (char c : text) {
        if (static_cast<unsigned char>(c) <= 26) continue;
        word.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
    return word == "KILL";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) return Usage(true);
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("dervix-link %d.%d.%d\n", DERVIX_VERSION_MAJOR, DERVIX_VERSION_MINOR, DERVIX_VERSION_PATCH);
        return 0;
    }
    if (argc < 3) return Usage();
    const std::string verb = argv[1];
    const bool set = verb == "set";
    if (!((verb == "get" && argc == 3) || (set && argc == 4))) return Usage();
    const std::string item = argv[2];
    // A blank inside the name would move the rest of it into the text.
    if (item.empty() || item.find_first_of(" \t\r\n") != std::string::npos)
        return Fail("\"" + item + "\" is not an item name");
    const std::string text = set ? argv[3] : "";

    QCoreApplication app(argc, argv);
    const QString path = QFile::decodeName(QByteArray::fromStdString(dervix::RuntimeFolderPath() + "/Server"));
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(5000))
        return Fail("cannot reach the program at " + path.toStdString() + ": " + socket.errorString().toStdString() +
                    " (is it running?)");

    const std::string request =
        (set ? "POKE " + item + " " + dervix::LinkEscape(text) : "REQUEST " + item) + "\n";
    socket.write(request.data(), qint64(request.size()));
    socket.flush();
    // No time limit: a request may wait behind a box the operator has open.
    while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState)
        if (!socket.waitForReadyRead(-1)) break;
    if (!socket.canReadLine()) {
        if (set && IsKill(item, text)) return 0;  // the program has ended as asked
        return Fail("the program closed the link without answering");
    }
    QByteArray answer = socket.readLine();
    answer.chop(1);

    if (answer == "OK") return 0;
    if (answer.startsWith("OK ")) {
        auto value = dervix::LinkUnescape(answer.mid(3).toStdString());
        if (!value) return Fail("garbled answer: " + answer.toStdString());
        if (!set) {
            std::fwrite(value->data(), 1, value->size(), stdout);
            std::fputc('\n', stdout);
        }
        return 0;
    }
    if (answer.startsWith("ERR")) {
        std::fprintf(stderr, "dervix-link: %s\n", answer.mid(answer.size() > 3 ? 4 : 3).constData());
        return 1;
    }
    return Fail("unexpected answer: " + answer.toStdString());
}
