#include "CentredWindow.h"

#include <QScreen>

CentredWindow::CentredWindow(Qt::WindowFlags flags)
    : QWidget(nullptr, flags)
{
}

void CentredWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_placed)
        return;
    m_placed = true;
    const QScreen *shownOn = screen();
    if (!shownOn)
        return;
    QRect placed = frameGeometry();
    placed.moveCenter(shownOn->availableGeometry().center());
    move(placed.topLeft());
}

#include "moc_CentredWindow.cpp"
