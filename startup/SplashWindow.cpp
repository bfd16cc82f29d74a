#include "SplashWindow.h"

#include "platform/Fonts.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

SplashWindow::SplashWindow()
    : CentredWindow(Qt::Window | Qt::FramelessWindowHint)
    , m_background(QStringLiteral(":/assets/splash.bmp"))
{
    setObjectName(QStringLiteral("frmSPLASH"));
    setFixedSize(472, 352);
    // The window has no title for a screen reader to fall back on, and a click is the only
    // way on.
    setAccessibleName(QStringLiteral("Skarnet"));
    setAccessibleDescription(QStringLiteral("Click the picture to open the duel board"));

    // The labels take no mouse input of their own, so a click on them reaches the window.
    auto *credit = new QLabel(QStringLiteral("Made by Quorvath"), this);
    credit->setObjectName(QStringLiteral("Label1"));
    credit->setTextFormat(Qt::PlainText);
    credit->setGeometry(96, 0, 305, 41);
    credit->setFont(Fonts::comic(20.25));
    QPalette palette = credit->palette();
    palette.setColor(QPalette::WindowText, QColor(0xC0, 0xC0, 0xC0));
    credit->setPalette(palette);

    // Pure decoration: it keeps an empty accessible name, so screen readers pass over it.
    auto *inset = new QLabel(this);
    inset->setObjectName(QStringLiteral("Image1"));
    const QPixmap insetPicture(QStringLiteral(":/assets/splash_inset.gif"));
    inset->setPixmap(insetPicture);
    inset->setGeometry(QRect(QPoint(0, 256), insetPicture.size()));
}

void SplashWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().button());
    painter.drawPixmap(0, 0, m_background);
}

void SplashWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        dismiss();
}

void SplashWindow::dismiss()
{
    // Hidden rather than closed first, so that the moment with no window open does not end
    // the program; the splash is destroyed once the main window is on its way.
    hide();
    emit dismissed();
    deleteLater();
}

#include "moc_SplashWindow.cpp"
