#include "platform/ScaledMetricsStyle.h"

#include <cmath>

ScaledMetricsStyle::ScaledMetricsStyle(double factor, QObject *owner)
    : m_factor(factor)
{
    setParent(owner);
}

int ScaledMetricsStyle::pixelMetric(PixelMetric metric, const QStyleOption *option,
                                    const QWidget *widget) const
{
    return int(std::lround(QProxyStyle::pixelMetric(metric, option, widget) * m_factor));
}
