#pragma once

#include <QPixmap>
#include <QPushButton>

// A push button whose face shows a picture at its natural size, centred, with the caption (if
// any) on the bottom line below it. What does not fit on the face is cut off, never scaled.
class PictureButton : public QPushButton
{
    Q_OBJECT
public:
    PictureButton(const QPixmap &picture, const QString &caption, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_picture;
};
