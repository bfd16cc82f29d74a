#include "ScreenFit.h"

#include <algorithm>
#include <cmath>

namespace ScreenFit {

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

QByteArray scaledFactorSetting(const QByteArray &current, double factor)
{
    bool readable = false;
    const double now = current.toDouble(&readable);
    const double base = readable && now > 0 ? now : 1.0;
    return QByteArray::number(base * factor, 'g', 6);
}

} // namespace ScreenFit
