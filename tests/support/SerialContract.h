#pragma once
// What every system's serial adapter does alike, against the simulated module:
// one table of failures and the steps of a request, run by each system's
// own adapter test (tests/platform/posix/, tests/win/) beside what is
// particular to that adapter. Each function reports through Qt Test; the
// calling slot has nothing to add after it.
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "platform/SerialPort.h"

namespace dervix::test {

// A system's adapter and the names it knows the module's line by.
class SerialRig {
public:
    virtual ~SerialRig() = default;
    virtual std::unique_ptr<SerialPort> makePort() = 0;
    virtual std::string device() = 0;  // reaches the simulated module
    virtual std::string absent() = 0;  // reaches nothing
};

// Sets the port up the way the program does and opens it.
std::optional<SerialError> OpenLikeTheProgram(SerialPort& port, const std::string& device,
                                              LineSettings line = LineSettings{});

namespace contract {

// Columns what, number, description: the failures every adapter reports
// with the same number and words.
void FailureRows();
void Failure(SerialRig& rig, const QString& what, int number, const QString& description);

// A frame out, its reply in: every notification a Receive with bytes.
void FrameOutReplyIn(SerialRig& rig);
// A modal box inside the receive handler runs a nested event loop: the next
// reply is announced there, not after the box closes.
void ReplyWhileTheHandlerWaits(SerialRig& rig);
// Columns requests, eventsEvery: a poller asking back to back, each request
// discarding what the line still holds; reading goes on all the same.
void DiscardRows();
void ReadingGoesOnAfterDiscards(SerialRig& rig, int requests, int eventsEvery);

}  // namespace contract
}  // namespace dervix::test
