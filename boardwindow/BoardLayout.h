#pragma once

#include "boardwindow/BoardControls.h"

#include <QSize>

class QWidget;

// Creates every control of the duel board on `window`: the 28 zone frames with their editors
// and displays, the strip above and below the board and the side panel, with their positions,
// fonts, colours, initial texts and tab order. Each control carries its name as object name;
// the controls the window works with are handed back typed. At a `factor` other than 1 every
// position, size, face and picture is drawn that many times as large.
namespace BoardLayout {

constexpr int ClientWidth = 1018;
constexpr int ClientHeight = 714;

BoardControls build(QWidget *window, double factor = 1.0);
// The window's fixed client size at `factor`.
QSize clientSize(double factor);
// How large to draw the board so that it and its title bar fit the room the desktop leaves on
// the screen at the top-left corner, where the window opens: 1 where it fits, less (never
// below three quarters) where not. In the desktop's scaled pixels, on top of its own scaling.
double factorToFitScreen();

} // namespace BoardLayout
