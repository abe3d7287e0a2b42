#pragma once
// Puts the rotation badge on the menu bar's maintenance item, in place of
// its caption; the item keeps its command.
#include <QIcon>
#include <QPointer>
#include <map>
#include <string>

#include "platform/System.h"

class QAction;
class QMenuBar;

namespace dervix {

class QtMenuBadge : public MenuBadge {
public:
    explicit QtMenuBadge(QAction* action = nullptr) { setAction(action); }
    // The main window's fourth top-level menu item.
    void setAction(QAction* action);

    // False once the item is gone.
    bool menuValid() const override { return !action_.isNull(); }
    void show(const std::string& imageKey) override;
    // The item's tool tip, and its description to a screen reader.
    void describe(const std::string& text) override;
    // The key of the badge on the item now, empty before the first.
    const std::string& shownKey() const { return shown_; }

private:
    QPointer<QAction> action_;
    std::string shown_;
    // One icon per badge for the life of the item: a fresh picture on every
    // call would leave one more copy in Qt's drawing cache after each run.
    std::map<std::string, QIcon> icons_;
};

// Menu bars draw item pictures at the small icon size, which would shrink
// the badge to half its size: this makes the bar show it pixel for pixel.
void ShowBadgeFullSize(QMenuBar* menuBar);

}  // namespace dervix
