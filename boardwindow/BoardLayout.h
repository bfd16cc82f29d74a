#pragma once

#include "boardwindow/BoardControls.h"

class QWidget;

// Creates every control of the duel board on `window`: the 28 zone frames with their editors
// and displays, the strip above and below the board and the side panel, with their positions,
// fonts, colours, initial texts and tab order. Each control carries its name as object name;
// the controls the window works with are handed back typed.
namespace BoardLayout {

constexpr int ClientWidth = 1018;
constexpr int ClientHeight = 714;

BoardControls build(QWidget *window);

} // namespace BoardLayout
