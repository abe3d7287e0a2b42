#include "maintenance/ui/KelmBadges.h"

#include <QImage>
#include <QPainter>

namespace dervix {

bool KelmBadgeColours(const std::string& key, BadgeColours& colours) {
    if (key == "kelm-g") colours = {QColor(0, 100, 0), QColor(0, 255, 0)};
    else if (key == "kelm-y") colours = {QColor(128, 128, 0), QColor(255, 255, 0)};
    else if (key == "kelm-r") colours = {QColor(128, 0, 0), QColor(255, 0, 0)};
    else return false;
    return true;
}

QPixmap KelmBadgePixmap(const std::string& key) {
    BadgeColours colours;
    if (!KelmBadgeColours(key, colours)) return {};
    QImage image(kBadgeWidth, kBadgeHeight, QImage::Format_RGB888);
    image.fill(colours.field);
    QPainter p(&image);
    // Crisp single pixels: the badge is small enough for every one to count.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, kBadgeWidth - 1, kBadgeHeight - 1);

    // The valve rotor: a bright disc with a black hub and a black channel.
    p.setPen(Qt::black);
    p.setBrush(colours.bright);
    p.drawEllipse(3, 3, 11, 11);
    p.drawLine(5, 8, 12, 8);
    p.fillRect(7, 7, 3, 3, Qt::black);

    // The wear gauge: three rising bars in the bright colour, outlined.
    const int heights[] = {4, 7, 10};
    for (int i = 0; i < 3; ++i) {
        const int x = 17 + i * 5;
        const int h = heights[i];
        p.fillRect(x, 14 - h, 4, h, colours.bright);
        p.setBrush(Qt::NoBrush);
        p.drawRect(x, 14 - h, 3, h - 1);
    }
    p.end();
    return QPixmap::fromImage(image);
}

}  // namespace dervix
