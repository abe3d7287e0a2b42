#pragma once
// The About box: the program's version and, queried afresh at each opening,
// the module's status, model and identity; self-test and home commands.
#include <functional>
#include <memory>

#include "platform/Dialogs.h"
#include "shell/Controls.h"

namespace dervix {

class FrmDervix;

class AboutBox {
public:
    static constexpr const char* kCaption = "Corvane Dervantix - About";
    static constexpr const char* kUnknown = "Unknown";

    using ViewFactory = ModalViewSlot<AboutBox>::Factory;

    explicit AboutBox(FrmDervix& w);
    AboutBox(const AboutBox&) = delete;
    AboutBox& operator=(const AboutBox&) = delete;

    // Loads the box (which queries the module), shows it and returns when
    // it is closed.
    void showModal();
    void setViewFactory(ViewFactory factory) { view_.setFactory(std::move(factory)); }
    bool loaded() const { return loaded_; }

    // The labels the response interpreter fills, or null while the box is
    // not loaded (a late reply is then dropped).
    Label* lblStatus() { return loaded_ ? &status_ : nullptr; }
    Label* lblModel() { return loaded_ ? &model_ : nullptr; }
    Label* lblID() { return loaded_ ? &id_ : nullptr; }

    // The same labels for the view, which exists only while they are loaded.
    Label& statusLabel() { return status_; }
    Label& modelLabel() { return model_; }
    Label& idLabel() { return id_; }

    Label lblTitle{"R5270K Dervantix"};
    Label lblVersion{"Version"};
    Label lblDescription{"Operator's program for the Corvane Dervantix flow splitter module."};
    Label Label3{"Status:"};
    Label Label2{"Model:"};
    Label Label1{"ID:"};
    Button cmdHome{"&Home"};
    Button cmdTest{"Self &Test"};
    Button cmdOK{"OK"};

private:
    void Form_Load();
    void request(const char* command);
    void waitForReply();
    void unload();

    FrmDervix& w_;
    ModalViewSlot<AboutBox> view_;
    Label status_{kUnknown};
    Label model_{kUnknown};
    Label id_{kUnknown};
    bool loaded_ = false;
};

}  // namespace dervix
