#pragma once

#include "platform/CentredWindow.h"

#include <QPixmap>

// The borderless picture the program opens on. A click anywhere on it, credit line and inset
// picture included, dismisses it; keys do nothing.
class SplashWindow : public CentredWindow
{
    Q_OBJECT
public:
    SplashWindow();

signals:
    // The player clicked the splash: it is gone, and the main window should open.
    void dismissed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void dismiss();

    QPixmap m_background;
};
