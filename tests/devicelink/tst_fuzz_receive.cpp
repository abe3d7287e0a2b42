// Line noise, stray events and operator requests in random order: the
// receive path and the interpreter must neither crash nor hoard bytes.
#include <QtTest>
#include <random>

#include "support/Rig.h"

using dervix::DeviceLink;
using dervix::MsgBox::ResultOk;
using dervix::MsgBox::ResultRetry;
using dervix::MsgBox::RetryCancel;
using dervix::test::ProgramEnded;
using dervix::test::Rig;
using dervix::test::ShownBox;

namespace {

constexpr int kCodes[] = {1, 2, 3, 4, 5, 6, 7, 1001, 1002, 1003, 1004, 1006, 1007, 1008, 1009, 1010, 1011};
const char* const kRequests[] = {"START", "STOP",  "STATUS", "MODEL", "ID",  "CHECK", "TEST",
                                 "HOME",  "LOAD",  " 12",    "start", " 7", "Status\t", "F"};
const char* const kReplies[] = {"G1\r\n", "G1C\r\n", "G1READY\r\n", "G1DVX-23\r\n", "g1SN 4\r\n", "\r\n"};

struct Fuzzer {
    explicit Fuzzer(Rig& r) : rig(r) {}

    std::string noise(std::size_t length, bool lineEnds) {
        static const char kLikely[] = {'G', '1', 'A', 'F', '\r', '\n', '\x0f', '\xe1', '\xfe', ' '};
        std::string bytes;
        bytes.reserve(length);
        for (std::size_t i = 0; i < length; ++i) {
            char c = rng() % 3 == 0 ? kLikely[rng() % sizeof kLikely] : static_cast<char>(rng() % 256);
            if (!lineEnds && (c == '\n' || c == '\xfe')) c = 'x';
            bytes.push_back(c);
        }
        return bytes;
    }

    void deliver(const std::string& bytes) {
        fed += bytes.size();
        rig.serial.deliver(bytes);
    }

    // A box open while more arrives: runs the receive path nested in it.
    void answerWhileOpen() {
        rig.dialogs.answers.push_back([this](const ShownBox& box) {
            deliver(noise(1 + rng() % 40, true));
            if (rng() % 2) rig.serial.raise(kCodes[rng() % std::size(kCodes)]);
            return (box.flags & 7) == RetryCancel ? ResultRetry : ResultOk;
        });
    }

    void step() {
        const unsigned action = rng() % 100;
        if (action < 45) {
            deliver(noise(1 + rng() % 64, true));
        } else if (action < 47) {
            deliver(noise(500 + rng() % 4000, false));
        } else if (action < 49) {
            // A module silent long enough to be given up on.
            for (int i = 0; i < 16; ++i) rig.timer.fire();
        } else if (action < 60) {
            deliver(kReplies[rng() % std::size(kReplies)]);
        } else if (action < 68) {
            rig.serial.raise(rng() % 4 ? kCodes[rng() % std::size(kCodes)] : static_cast<int>(rng() % 3000) - 500);
        } else if (action < 78) {
            rig.timer.fire();
        } else if (action < 88) {
            rig.w->txtDVXScmd.setText(kRequests[rng() % std::size(kRequests)]);
        } else if (action < 93) {
            rig.w->cmdStart.click();
        } else if (action < 95) {
            rig.serial.opened = !rig.serial.opened;
        } else if (action < 98) {
            if (rig.dialogs.answers.empty()) answerWhileOpen();
        } else {
            rig.pump.runPosted();
            rig.logFile.lines.clear();
            rig.dialogs.boxes.clear();
            rig.serial.frames.clear();
        }
    }

    Rig& rig;
    std::mt19937 rng{20240611};
    std::size_t fed = 0;
};

}  // namespace

class TstFuzzReceive : public QObject {
    Q_OBJECT

private slots:
    void randomStreamsAndEvents() {
        Rig rig;
        rig.profile.write("Dervix", "Logging", "1");
        rig.startAndAnswerCheck();
        std::size_t largest = 0;
        std::size_t changes = 0;
        // Watched on every change, also those nested inside other handlers.
        rig.w->DervixResp.setObserver([&] {
            ++changes;
            largest = std::max(largest, rig.w->DervixResp.text().size());
        });
        Fuzzer fuzz(rig);
        std::size_t applied = 0, timeouts = 0, overflows = 0, framesSent = 0;
        try {
            while (fuzz.fed < 1'200'000) {
                const std::size_t boxesBefore = rig.dialogs.boxes.size();
                const std::size_t framesBefore = rig.serial.frames.size();
                fuzz.step();
                for (const std::string& line : rig.logFile.lines) {
                    applied += line.find("Response String = [") != std::string::npos;
                    // Noise past its bound tells what it dropped on its receive line.
                    overflows += line.find("Receive - overflow") != std::string::npos ||
                                 line.find(" dropped) +") != std::string::npos;
                }
                for (std::size_t i = boxesBefore; i < rig.dialogs.boxes.size(); ++i)
                    timeouts += rig.dialogs.boxes[i].prompt.find("Timeout after  15 retries") != std::string::npos;
                if (rig.serial.frames.size() > framesBefore) framesSent += rig.serial.frames.size() - framesBefore;
                rig.logFile.lines.clear();
                QVERIFY(rig.w->g.RetryCount <= 15);
                QVERIFY(rig.w->g.LinkState == dervix::kReady || rig.w->g.LinkState == dervix::kWaiting);
            }
        } catch (const ProgramEnded&) {
            QFAIL("the program ended");
        }
        qInfo("fed %zu bytes, %zu slot changes, %zu replies applied, %zu time-outs, %zu overflows, %zu frames",
              fuzz.fed, changes, applied, timeouts, overflows, framesSent);
        QVERIFY2(largest <= DeviceLink::kMaxPendingReply, qPrintable(QString::number(largest)));
        QCOMPARE(rig.process.terminations, 0);
        // The run went where it should: replies applied, silence given up on,
        // the slot filled up to its bound and trimmed, frames sent.
        QVERIFY(fuzz.fed >= 1'000'000);
        QVERIFY(changes > 10'000);
        QVERIFY(applied > 100);
        QVERIFY(timeouts > 0);
        QVERIFY(overflows > 0);
        QCOMPARE(largest, DeviceLink::kMaxPendingReply);
        QVERIFY(framesSent > 1000);
    }
};

QTEST_GUILESS_MAIN(TstFuzzReceive)
#include "tst_fuzz_receive.moc"
