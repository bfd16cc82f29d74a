#pragma once

#include <QFont>

// The three faces the windows are drawn with, asked for by name. Where a face is not
// installed, Debian's metric-compatible or look-alike face stands in.
namespace Fonts {

// Every window's default face: a small sans at 8.25 points.
QFont windowFont();
QFont sans(qreal points);
QFont serif(qreal points);
QFont comic(qreal points);

} // namespace Fonts
