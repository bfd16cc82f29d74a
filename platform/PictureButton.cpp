#include "PictureButton.h"

#include <QStyleOptionButton>
#include <QStylePainter>

PictureButton::PictureButton(const QPixmap &picture, const QString &caption, QWidget *parent)
    : QPushButton(caption, parent)
    , m_picture(picture)
{
}

void PictureButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    const QRect face = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    painter.setClipRect(face);
    QRect pictureArea = face;
    if (!text().isEmpty()) {
        const int captionHeight = fontMetrics().height();
        const QRect captionArea(face.left(), face.bottom() - captionHeight + 1, face.width(),
                                captionHeight);
        pictureArea.setBottom(captionArea.top() - 1);
        painter.drawPixmap(QRect(QPoint(), m_picture.size())
                               .translated(pictureArea.center() - m_picture.rect().center()),
                           m_picture);
        painter.drawItemText(captionArea, Qt::AlignCenter | Qt::TextShowMnemonic, palette(),
                             isEnabled(), text(), QPalette::ButtonText);
        return;
    }
    painter.drawPixmap(pictureArea.center() - m_picture.rect().center(), m_picture);
}

#include "moc_PictureButton.cpp"
