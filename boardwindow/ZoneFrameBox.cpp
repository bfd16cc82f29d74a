#include "ZoneFrameBox.h"

#include <QPainter>

ZoneFrameBox::ZoneFrameBox(const QString &caption, QWidget *parent)
    : QGroupBox(caption, parent)
{
    setAutoFillBackground(true);
}

void ZoneFrameBox::setCaptionColours(const QColor &background, const QColor &text)
{
    if (background == m_captionBackground && text == m_captionText)
        return;
    m_captionBackground = background;
    m_captionText = text;
    update(captionArea());
}

QRect ZoneFrameBox::captionArea() const
{
    const QFontMetrics metrics(font());
    return {6, 0, metrics.horizontalAdvance(title()) + 4, metrics.height()};
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

    const QRect caption = captionArea();
    painter.fillRect(caption, m_captionBackground.isValid() ? QBrush(m_captionBackground)
                                                            : palette().window());
    painter.setPen(m_captionText.isValid() ? m_captionText : palette().color(QPalette::WindowText));
    painter.drawText(caption, Qt::AlignCenter, title());
}

#include "moc_ZoneFrameBox.cpp"
