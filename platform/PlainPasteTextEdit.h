#pragma once

#include <QPlainTextEdit>

// A multi-line text box that takes only the plain text of what is pasted or dropped into it.
// Qt's own insertion reads every format the clipboard offers, and on X11 with no program owning
// the clipboard that ends the program (Qt 6.4); the plain text is all a zone holds anyway.
class PlainPasteTextEdit : public QPlainTextEdit
{
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;
};
