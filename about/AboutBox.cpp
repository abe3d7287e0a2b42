#include "about/AboutBox.h"

#include "shell/FrmDervix.h"
#include "shell/Numbers.h"

namespace dervix {

AboutBox::AboutBox(FrmDervix& w) : w_(w) {
    cmdHome.setClickHandler([this] { request("HOME"); });
    cmdTest.setClickHandler([this] { request("TEST"); });
    cmdOK.setClickHandler([this] { unload(); });
}

void AboutBox::showModal() {
    // Opened again from the main window while it loads or shows: once is enough.
    if (loaded_) return;
    Form_Load();
    if (!loaded_) return;  // closed while it was loading
    view_.show(*this);
    loaded_ = false;
}

void AboutBox::Form_Load() {
    loaded_ = true;
    status_.setCaption(kUnknown);
    model_.setCaption(kUnknown);
    id_.setCaption(kUnknown);
    const Version& v = w_.platform.version;
    lblVersion.setCaption("Version " + PlainForm(v.major) + "." + PlainForm(v.minor) + "." + PlainForm(v.revision));

    request("STATUS");
    waitForReply();
    request("MODEL");
    waitForReply();
    // The box shows while the identity is still on its way.
    request("ID");
}

void AboutBox::request(const char* command) { w_.txtDVXScmd.setText(command); }

void AboutBox::waitForReply() {
    // A request that never reached the module leaves the link waiting with
    // no time-out running, so nothing would ever end the wait: stop then.
    while (w_.g.LinkState == kWaiting && w_.platform.timer.isActive()) w_.platform.pump.serveEvents();
}

void AboutBox::unload() {
    loaded_ = false;
    view_.hide();
}

}  // namespace dervix
