#pragma once
// An event log on fakes, logging on, for the log's own tests; File is the
// line file it writes through (a fake, or the real one into a folder).
//   LogRig<> rig;  auto& [g, clock, file, dialogs, pump, log] = rig;
#include <string>
#include <utility>

#include "shell/EventLog.h"
#include "support/Fakes.h"

namespace dervix::test {

template <class File = FakeLineFile>
struct LogRig {
    explicit LogRig(std::string folder = "/opt/dervix") : log(g, clock, file, dialogs, pump, std::move(folder)) {
        g.LogEnabled = 1;
    }
    Globals g;
    FakeClock clock;
    File file;
    FakeDialogs dialogs;
    FakeEventPump pump;
    EventLog log;
};

}  // namespace dervix::test
