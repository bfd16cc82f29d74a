#include "platform/SquareTextBoxStyle.h"

#include <QPainter>
#include <QStyleOption>

SquareTextBoxStyle::SquareTextBoxStyle(QObject *owner)
{
    // A style given to single widgets is not owned by them; the owner frees it with them.
    setParent(owner);
}

void SquareTextBoxStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option,
                                       QPainter *painter, const QWidget *widget) const
{
    const auto *frame = qstyleoption_cast<const QStyleOptionFrame *>(option);
    if (element == PE_PanelLineEdit && frame && frame->lineWidth > 0) {
        painter->fillRect(option->rect, option->palette.base());
        drawPrimitive(PE_FrameLineEdit, option, painter, widget);
        return;
    }
    if (element == PE_FrameLineEdit) {
        // The multi-line boxes' one-pixel outline, in the highlight colour while the box has
        // the focus so the player still sees where typing goes.
        const QColor outline =
            (option->state & State_HasFocus)
                ? option->palette.color(QPalette::Highlight)
                : option->palette.color(QPalette::Window).darker(140).lighter(108);
        const QRect r = option->rect;
        painter->fillRect(r.left(), r.top(), r.width(), 1, outline);
        painter->fillRect(r.left(), r.bottom(), r.width(), 1, outline);
        painter->fillRect(r.left(), r.top(), 1, r.height(), outline);
        painter->fillRect(r.right(), r.top(), 1, r.height(), outline);
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

#include "moc_SquareTextBoxStyle.cpp"
