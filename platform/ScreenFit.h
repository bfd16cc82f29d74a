#pragma once

#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QSize>

#include <optional>

// Fits a window of fixed size to the screen it opens on by drawing it smaller, uniformly, never
// by moving controls: every control keeps its place relative to the others. The window lays
// itself out at the factor, in the logical pixels of whatever scaling the desktop applies.
namespace ScreenFit {

// Text drawn smaller than this share of its normal size gets hard to read; a screen with less
// room shows the window at this size and lets part of it run off.
constexpr double SmallestFactor = 0.75;

// The factor to draw at so that `needed` fits into `available`, or nothing when it fits
// already. Rounded down to a thousandth, so that rounding never leaves it a pixel too large,
// and never below SmallestFactor.
std::optional<double> factorToFit(QSize available, QSize needed);

// A rectangle drawn at `factor`: each edge is scaled and rounded on its own, so that controls
// that touch or overlap at the normal size still do, and nothing changes at factor 1.
QRect scaled(const QRect &rect, double factor);
QSize scaled(QSize size, double factor);
// The same face at `factor` times its size, as wide as that even where the height is rounded to
// a whole pixel. Needs a QGuiApplication for a face given in points.
QFont scaled(QFont font, double factor);
// A picture smoothly resampled to `factor` times its size; the picture itself at factor 1.
QPixmap scaled(const QPixmap &picture, double factor);

} // namespace ScreenFit
