#pragma once

#include <QProxyStyle>

// The application's style with every pixel measure (a scroll bar's width, its arrows, frame
// widths) `factor` times as large, for the controls of a window drawn at that factor.
class ScaledMetricsStyle : public QProxyStyle
{
public:
    // Freed with `owner`, as a style given to single widgets is not owned by them.
    ScaledMetricsStyle(double factor, QObject *owner);

    int pixelMetric(PixelMetric metric, const QStyleOption *option = nullptr,
                    const QWidget *widget = nullptr) const override;

private:
    double m_factor;
};
