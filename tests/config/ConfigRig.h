#pragma once
// The rig of the configuration dialog's tests: the dialog's views scripted
// as the operator would use them.
#include <string>
#include <vector>

#include "support/FakeViews.h"
#include "support/Rig.h"

namespace dervix::test {

struct ConfigRig : Rig {
    ScriptedViews<ConfigDialog> views;
    ConfigRig() { views.install(w->config); }
    void choose(int port, int address) {
        // -1: the operator leaves that list as it opened.
        views.scripts.push_back([port, address](ConfigDialog& d) {
            if (port >= 0) d.cboPort.setListIndex(port);
            if (address >= 0) d.cboASaddr.setListIndex(address);
            d.cmdOK.click();
        });
    }
    void pressOK() {
        views.scripts.push_back([](ConfigDialog& d) { d.cmdOK.click(); });
    }
    std::vector<std::string> framesSince(std::size_t from) const {
        return {serial.frames.begin() + static_cast<long>(from), serial.frames.end()};
    }
};

}  // namespace dervix::test
