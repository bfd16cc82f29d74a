#include "PlainPasteTextEdit.h"

#include <QMimeData>

bool PlainPasteTextEdit::canInsertFromMimeData(const QMimeData *source) const
{
    return source && source->hasText();
}

void PlainPasteTextEdit::insertFromMimeData(const QMimeData *source)
{
    if (source && source->hasText())
        insertPlainText(source->text());
}
