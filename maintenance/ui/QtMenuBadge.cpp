#include "maintenance/ui/QtMenuBadge.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenuBar>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>

#include "maintenance/ui/KelmBadges.h"

namespace dervix {

namespace {

// Draws a menu bar item that carries a picture at the picture's own size;
// every other item is left to the underlying style.
class FullSizeBadgeStyle : public QProxyStyle {
public:
    // On top of the style the application uses, whichever it is.
    FullSizeBadgeStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                           const QWidget* widget) const override {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (type != CT_MenuBarItem || !item || item->icon.isNull())
            return QProxyStyle::sizeFromContents(type, option, contents, widget);
        return QProxyStyle::sizeFromContents(type, option, contents.expandedTo(badgeSize()), widget);
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (element != CE_MenuBarItem || !item || item->icon.isNull()) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        // The item's frame and highlight as usual, then the picture itself.
        QStyleOptionMenuItem plain(*item);
        plain.icon = QIcon();
        plain.text.clear();
        QProxyStyle::drawControl(element, &plain, painter, widget);
        const QPixmap picture = item->icon.pixmap(badgeSize());
        QRect place(QPoint(), picture.size());
        place.moveCenter(item->rect.center());
        painter->drawPixmap(place.topLeft(), picture);
    }

private:
    static QSize badgeSize() { return QSize(kBadgeWidth, kBadgeHeight); }
};

const char* const kBadgeProperty = "dervixBadge";

// The badge item as a screen reader sees it. The menu bar's own item
// interface has a name only, the item's caption, which the picture replaces;
// this one adds the description that says what the picture shows.
class BadgeItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    explicit BadgeItemAccessible(QAction* action) : action_(action) {}

    bool isValid() const override { return action_ && bar(); }
    QObject* object() const override { return action_; }
    QWindow* window() const override { return bar() ? bar()->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(bar()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::MenuItem; }
    void setText(QAccessible::Text, const QString&) override {}
    QString text(QAccessible::Text t) const override {
        if (!action_) return {};
        if (t == QAccessible::Name) return QString(action_->text()).remove(QLatin1Char('&'));
        if (t == QAccessible::Description) return action_->toolTip();
        return {};
    }
    QRect rect() const override {
        QMenuBar* menuBar = bar();
        if (!menuBar || !action_) return {};
        const QRect place = menuBar->actionGeometry(action_);
        return QRect(menuBar->mapToGlobal(place.topLeft()), place.size());
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!action_ || !action_->isEnabled()) s.disabled = true;
        if (!bar() || !bar()->isVisible() || (action_ && !action_->isVisible())) s.invisible = true;
        if (bar() && bar()->activeAction() == action_) s.focused = true;
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction() && action_ && action_->isEnabled()) action_->trigger();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QMenuBar* bar() const {
        if (!action_) return nullptr;
        for (QObject* owner : action_->associatedObjects())
            if (auto* menuBar = qobject_cast<QMenuBar*>(owner)) return menuBar;
        return nullptr;
    }
    QPointer<QAction> action_;
};

QAccessibleInterface* BadgeAccessibleFactory(const QString& className, QObject* object) {
    auto* action = qobject_cast<QAction*>(object);
    if (className != QLatin1String("QAction") || !action || !action->property(kBadgeProperty).toBool()) return nullptr;
    return new BadgeItemAccessible(action);
}

}  // namespace

void QtMenuBadge::setAction(QAction* action) {
    action_ = action;
    if (!action) return;
    static const bool installed = [] {
        QAccessible::installFactory(BadgeAccessibleFactory);
        return true;
    }();
    (void)installed;
    action->setProperty(kBadgeProperty, true);
}

void QtMenuBadge::describe(const std::string& text) {
    if (!action_.isNull()) action_->setToolTip(QString::fromStdString(text));
}

void QtMenuBadge::show(const std::string& imageKey) {
    if (action_.isNull()) return;
    auto icon = icons_.find(imageKey);
    if (icon == icons_.end()) {
        const QPixmap picture = KelmBadgePixmap(imageKey);
        if (picture.isNull()) return;
        icon = icons_.emplace(imageKey, QIcon(picture)).first;
    }
    action_->setIcon(icon->second);
    shown_ = imageKey;
}

void ShowBadgeFullSize(QMenuBar* menuBar) {
    if (!menuBar) return;
    auto* style = new FullSizeBadgeStyle;
    // The widget does not own a style it is given; the bar keeps it alive.
    style->setParent(menuBar);
    menuBar->setStyle(style);
}

}  // namespace dervix
