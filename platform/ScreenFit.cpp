#include "ScreenFit.h"

#include <QFontInfo>

#include <algorithm>
#include <cmath>

namespace ScreenFit {

namespace {

int scaled(int length, double factor)
{
    return int(std::lround(length * factor));
}

} // namespace

std::optional<double> factorToFit(QSize available, QSize needed)
{
    if (needed.isEmpty() || available.isEmpty())
        return std::nullopt;
    if (needed.width() <= available.width() && needed.height() <= available.height())
        return std::nullopt;
    const double fits = std::min(double(available.width()) / needed.width(),
                                 double(available.height()) / needed.height());
    return std::max(SmallestFactor, std::floor(fits * 1000) / 1000);
}

QRect scaled(const QRect &rect, double factor)
{
    const int left = scaled(rect.left(), factor);
    const int top = scaled(rect.top(), factor);
    return {left, top, scaled(rect.left() + rect.width(), factor) - left,
            scaled(rect.top() + rect.height(), factor) - top};
}

QSize scaled(QSize size, double factor)
{
    return {scaled(size.width(), factor), scaled(size.height(), factor)};
}

QFont scaled(QFont font, double factor)
{
    if (factor == 1.0)
        return font;
    // Faces are drawn at whole pixel sizes only: the size is rounded, and the stretch makes up
    // the difference in width, so that a caption still runs as long as its label.
    const int normalPixels = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    const double pixels = normalPixels * factor;
    const int wholePixels = std::max(1, int(std::lround(pixels)));
    const int normalStretch = font.stretch() > 0 ? font.stretch() : int(QFont::Unstretched);
    font.setPixelSize(wholePixels);
    font.setStretch(int(std::lround(normalStretch * pixels / wholePixels)));
    return font;
}

QPixmap scaled(const QPixmap &picture, double factor)
{
    if (factor == 1.0 || picture.isNull())
        return picture;
    return picture.scaled(scaled(picture.size(), factor), Qt::IgnoreAspectRatio,
                          Qt::SmoothTransformation);
}

} // namespace ScreenFit
