#pragma once

#include <QByteArray>
#include <QSize>

#include <optional>

// Fits a window of fixed size to the screen it opens on by drawing the whole program smaller,
// uniformly, never by moving controls: every control keeps its place relative to the others.
namespace ScreenFit {

// Text drawn smaller than this share of its normal size gets hard to read; a screen with less
// room shows the window at this size and lets part of it run off.
constexpr double SmallestFactor = 0.75;

// The factor to draw at so that `needed` fits into `available`, or nothing when it fits
// already. Rounded down to a thousandth, so that rounding never leaves it a pixel too large,
// and never below SmallestFactor.
std::optional<double> factorToFit(QSize available, QSize needed);

// The value of QT_SCALE_FACTOR that draws `factor` times as large as `current` (the variable's
// value now; empty or unreadable counts as 1).
QByteArray scaledFactorSetting(const QByteArray &current, double factor);

} // namespace ScreenFit
