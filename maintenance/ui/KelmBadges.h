#pragma once
// The three rotation badges, 33 x 18 pixels in 24-bit colour, drawn here so
// no image files travel with the program.
#include <QColor>
#include <QPixmap>
#include <string>

namespace dervix {

struct BadgeColours {
    QColor field;   // the badge's background
    QColor bright;  // the rotor and the level marks
};

constexpr int kBadgeWidth = 33;
constexpr int kBadgeHeight = 18;

// The colours of "kelm-g", "kelm-y" and "kelm-r"; false for any other key.
bool KelmBadgeColours(const std::string& key, BadgeColours& colours);
// The badge for a key; a null pixmap for an unknown key.
QPixmap KelmBadgePixmap(const std::string& key);

}  // namespace dervix
