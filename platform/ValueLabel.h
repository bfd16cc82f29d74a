#pragma once

#include <QLabel>

// A label that shows a value the program changes, such as an opponent's zone or the status
// line. A label with an accessible name tells a screen reader nothing when its text changes;
// this one reports each new text as replacing the old, so the reader can say it at once.
// QLabel::setText is not virtual: set the text through a ValueLabel, never a QLabel pointer.
class ValueLabel : public QLabel
{
public:
    using QLabel::QLabel;

    // Shows `text`. Setting the text it already shows changes nothing and reports nothing.
    void setText(const QString &text);
};
