// dervantix-sim: plays the flow-splitter module on a pseudo-terminal, for
// trying the program and its scripts without hardware.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "simulator/qt/posix/PtySimulator.h"

using dervix::sim::ModuleSimulator;
using dervix::sim::PtySimulator;

namespace {

const char kCommands[] =
    "Commands on standard input, one a line; each is answered with one line,\n"
    "\"ok\" (with details) or \"error: <reason>\":\n"
    "  silence on|off          ignore every frame, as a module switched off\n"
    "  delay MS                extra delay before every reply (0 = none)\n"
    "  split N [GAP]           send replies in N pieces, GAP ms apart (default 5)\n"
    "  stray on|off            add bytes 15 and 225 to replies, send 254 for the LF\n"
    "  lowercase-check on|off  identity (CHECK/ID) replies begin with \"g\"\n"
    "  address N               answer module address N (0 to 255)\n"
    "  hangup                  the device disappears, as a pulled USB adapter\n"
    "  replug                  a new device after a hang-up; prints its path\n"
    "  status                  the module's state and faults\n"
    "  help                    this list (after its \"ok\" line)\n"
    "  quit                    end the simulator\n";

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    // Nothing else is safe in a signal handler.
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}

bool ParseNumber(const QString& text, int low, int high, int& value) {
    bool ok = false;
    value = text.toInt(&ok, 10);
    return ok && value >= low && value <= high;
}

const char* OnOff(bool on) { return on ? "on" : "off"; }

class Tool {
public:
    Tool(PtySimulator& sim, QString link) : sim_(sim), link_(std::move(link)) {}

    // Points the link at the present terminal; replaces only a symlink.
    bool updateLink(QString& error) {
        if (link_.isEmpty()) return true;
        const QByteArray link = link_.toLocal8Bit();
        struct stat st {};
        if (lstat(link.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            error = link_ + " exists and is not a symbolic link";
            return false;
        }
        const QByteArray temporary = link + ".tmp" + QByteArray::number(getpid());
        ::unlink(temporary.constData());
        if (::symlink(sim_.slavePath().toLocal8Bit().constData(), temporary.constData()) != 0 ||
            ::rename(temporary.constData(), link.constData()) != 0) {
            error = link_ + ": " + QString::fromLocal8Bit(std::strerror(errno));
            ::unlink(temporary.constData());
            return false;
        }
        return true;
    }

    // Leaves no link behind that points at a terminal that is gone.
    void removeLink() {
        if (link_.isEmpty()) return;
        char target[4096];
        const QByteArray link = link_.toLocal8Bit();
        const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
        if (n > 0 && QString::fromLocal8Bit(target, static_cast<int>(n)) == sim_.slavePath())
            ::unlink(link.constData());
    }

    QString run(const QString& line) {
        const QStringList words = line.simplified().split(' ', Qt::SkipEmptyParts);
        if (words.isEmpty()) return {};
        const QString command = words[0].toLower();
        ModuleSimulator& m = sim_.module();
        auto onOff = [&words](bool& on) {
            if (words.size() != 2 || (words[1] != "on" && words[1] != "off")) return false;
            on = words[1] == "on";
            return true;
        };
        bool on = false;
        int n = 0, gap = ModuleSimulator::kDefaultSplitGapMs;
        if (command == "silence" && onOff(on)) {
            m.setSilent(on);
        } else if (command == "stray" && onOff(on)) {
            m.setStrayBytes(on);
        } else if (command == "lowercase-check" && onOff(on)) {
            m.setLowercaseCheck(on);
        } else if (command == "delay" && words.size() == 2 && ParseNumber(words[1], 0, 600000, n)) {
            m.setExtraDelayMs(n);
        } else if (command == "split" && (words.size() == 2 || words.size() == 3) &&
                   ParseNumber(words[1], 1, 64, n) && (words.size() == 2 || ParseNumber(words[2], 0, 60000, gap))) {
            m.setSplitPieces(n, gap);
        } else if (command == "address" && words.size() == 2 && ParseNumber(words[1], 0, 255, n)) {
            m.setAddress(n);
        } else if (command == "hangup" && words.size() == 1) {
            if (!sim_.isOpen()) return "error: already hung up";
            sim_.hangUp();
        } else if (command == "replug" && words.size() == 1) {
            if (sim_.isOpen()) return "error: still plugged in; hangup first";
            if (!sim_.open()) return "error: " + sim_.errorString();
            QString error;
            if (!updateLink(error)) return "error: " + error;
            return "ok " + sim_.slavePath();
        } else if (command == "status" && words.size() == 1) {
            return QStringLiteral("ok device=%1 address=%2 valve=%3 split-code=%4 answered=%5 silence=%6 delay=%7 "
                                  "split=%8 stray=%9 lowercase-check=%10")
                .arg(sim_.isOpen() ? sim_.slavePath() : QStringLiteral("hung-up"))
                .arg(m.address())
                .arg(m.valveRunning() ? "running" : "stopped")
                .arg(m.splitCode())
                .arg(m.framesAnswered())
                .arg(OnOff(m.silent()))
                .arg(m.extraDelayMs())
                .arg(m.splitPieces())
                .arg(OnOff(m.strayBytes()))
                .arg(OnOff(m.lowercaseCheck()));
        } else if (command == "quit" && words.size() == 1) {
            QCoreApplication::quit();
        } else if (command == "help") {
            return QStringLiteral("ok\n") + QString::fromLatin1(kCommands).trimmed();
        } else {
            return "error: not understood: " + line.trimmed() + " (try help)";
        }
        return QStringLiteral("ok");
    }

    // Standard input arrives in any pieces; commands are whole lines.
    void readInput() {
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            // End of input does not end the module: it runs until a signal.
            if (n == 0 || (errno != EINTR && errno != EAGAIN)) input_->setEnabled(false);
            return;
        }
        pending_.append(buffer, n);
        // A line this long is no command; drop it rather than hoard it.
        if (pending_.size() > 4096 && !pending_.contains('\n')) pending_.clear();
        qsizetype end;
        while ((end = pending_.indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(pending_.left(end));
            pending_.remove(0, end + 1);
            const QString answer = run(line);
            if (!answer.isEmpty()) {
                std::fputs((answer + '\n').toLocal8Bit().constData(), stdout);
                std::fflush(stdout);
            }
        }
    }

    void listen(QObject* parent) {
        input_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, parent);
        QObject::connect(input_, &QSocketNotifier::activated, parent, [this] { readInput(); });
    }

private:
    PtySimulator& sim_;
    QString link_;
    QByteArray pending_;
    QSocketNotifier* input_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dervantix-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Plays the Corvane Dervantix flow-splitter module on a pseudo-terminal.\n"
        "Prints the terminal's path as the first line of standard output; point\n"
        "the program's serial port at it (profile section [Ports], key Com1=PATH).\n"
        "Runs until SIGINT or SIGTERM (or the command quit).\n\n" +
        QString::fromLatin1(kCommands).trimmed());
    parser.addHelpOption();
    // Not addVersionOption(): its -v is taken by --verbose.
    QCommandLineOption version("version", "Print the version and end.");
    parser.addOption(version);
    QCommandLineOption address({"a", "address"}, "Module address to answer, 0 to 255 (default 1).", "N", "1");
    QCommandLineOption link({"l", "link"}, "Make PATH a symbolic link to the terminal (kept up to date, "
                                           "removed at the end).", "PATH");
    QCommandLineOption silent("silent", "Start switched off (command: silence on).");
    QCommandLineOption delay("delay", "Extra delay before every reply.", "MS", "0");
    QCommandLineOption split("split", "Send replies in N pieces.", "N", "1");
    QCommandLineOption gap("gap", "Milliseconds between the pieces of a reply.", "MS", "5");
    QCommandLineOption stray("stray", "Add stray bytes 15, 225 and 254 to replies.");
    QCommandLineOption lowercase("lowercase-check", "Identity replies begin with \"g\".");
    QCommandLineOption verbose({"v", "verbose"}, "Show every frame and reply on standard error.");
    parser.addOptions({address, link, silent, delay, split, gap, stray, lowercase, verbose});
    parser.process(app);
    if (parser.isSet(version)) {
        std::printf("dervantix-sim %d.%d.%d\n", DERVIX_VERSION_MAJOR, DERVIX_VERSION_MINOR, DERVIX_VERSION_PATCH);
        return 0;
    }

    int addressValue = 0, delayValue = 0, splitValue = 0, gapValue = 0;
    if (!ParseNumber(parser.value(address), 0, 255, addressValue) ||
        !ParseNumber(parser.value(delay), 0, 600000, delayValue) ||
        !ParseNumber(parser.value(split), 1, 64, splitValue) ||
        !ParseNumber(parser.value(gap), 0, 60000, gapValue) || !parser.positionalArguments().isEmpty()) {
        std::fputs("dervantix-sim: invalid arguments; see --help\n", stderr);
        return 2;
    }

    PtySimulator sim;
    ModuleSimulator& m = sim.module();
    m.setAddress(addressValue);
    m.setSilent(parser.isSet(silent));
    m.setExtraDelayMs(delayValue);
    m.setSplitPieces(splitValue, gapValue);
    m.setStrayBytes(parser.isSet(stray));
    m.setLowercaseCheck(parser.isSet(lowercase));
    if (!sim.open()) {
        std::fprintf(stderr, "dervantix-sim: cannot open a pseudo-terminal: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    Tool tool(sim, parser.value(link));
    QString error;
    if (!tool.updateLink(error)) {
        std::fprintf(stderr, "dervantix-sim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(sim.slavePath()));
    std::fflush(stdout);

    if (parser.isSet(verbose)) {
        QObject::connect(&sim, &PtySimulator::frameReceived, &app, [](const QByteArray& frame, qint64) {
            std::fprintf(stderr, "<- %s\n", frame.toPercentEncoding(" %").constData());
        });
        QObject::connect(&sim, &PtySimulator::bytesSent, &app, [](const QByteArray& bytes, qint64) {
            std::fprintf(stderr, "-> %s\n", bytes.toPercentEncoding(" %").constData());
        });
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        std::perror("dervantix-sim: socketpair");
        return 1;
    }
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    tool.listen(&app);
    const int result = app.exec();
    tool.removeLink();
    return result;
}
