// Dialog units to pixels, from the dialog font's own metrics as the dialog machinery of the
// platform computed them: the horizontal base is the average width of the 52 Latin letters,
// halved and rounded ((width / 26 + 1) / 2), the vertical base is the font's height. A
// horizontal unit is a quarter of the horizontal base, a vertical unit an eighth of the
// vertical base, so a layout in dialog units keeps its proportions at any font and scale.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace tarnwell {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }

    int X(int du) const;  // horizontal dialog units to pixels, rounded to nearest
    int Y(int du) const;  // vertical dialog units to pixels, rounded to nearest

    // Maps the rectangle's four edges separately, as the platform did, so that adjacent
    // controls stay adjacent whatever the rounding.
    QRect Map(const QRect& du) const;
    QSize MapSize(int widthDu, int heightDu) const;

private:
    int baseX_;
    int baseY_;
};

}  // namespace tarnwell
