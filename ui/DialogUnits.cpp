#include "ui/DialogUnits.h"

#include <QFontMetrics>
#include <cstdint>

namespace tarnwell {

namespace {

// a * b / c rounded to nearest, halves away from zero, computed wide so no product overflows.
int MulDiv(int a, int b, int c)
{
    const std::int64_t product = static_cast<std::int64_t>(a) * b;
    const std::int64_t half = c / 2;
    const std::int64_t rounded = product >= 0 ? (product + half) / c : (product - half) / c;
    return static_cast<int>(rounded);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = (letters / 26 + 1) / 2;
    baseY_ = metrics.height();
}

int DialogUnits::X(int du) const { return MulDiv(du, baseX_, 4); }

int DialogUnits::Y(int du) const { return MulDiv(du, baseY_, 8); }

QRect DialogUnits::Map(const QRect& du) const
{
    const int left = X(du.x());
    const int top = Y(du.y());
    const int right = X(du.x() + du.width());
    const int bottom = Y(du.y() + du.height());
    return {QPoint(left, top), QSize(right - left, bottom - top)};
}

QSize DialogUnits::MapSize(int widthDu, int heightDu) const { return {X(widthDu), Y(heightDu)}; }

}  // namespace tarnwell
