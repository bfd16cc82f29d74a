#include "ZoneFrameBox.h"

#include <QPainter>

ZoneFrameBox::ZoneFrameBox(const QString &caption, QWidget *parent)
    : QGroupBox(caption, parent)
{
    setAutoFillBackground(true);
}

void ZoneFrameBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const QRect outline = rect().adjusted(0, metrics.height() / 2, -1, -1);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(outline.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(outline.adjusted(1, 1, 0, 0));

    const QRect caption(6, 0, metrics.horizontalAdvance(title()) + 4, metrics.height());
    painter.fillRect(caption, palette().window());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(caption, Qt::AlignCenter, title());
}
