#include "maintenance/ui/QtMenuBadge.h"

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

}  // namespace

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
