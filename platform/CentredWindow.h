#pragma once

#include <QWidget>

// A top-level window that opens in the middle of the screen's free area, frame included.
// It is placed once, when first shown; afterwards it stays where the player puts it.
class CentredWindow : public QWidget
{
    Q_OBJECT
public:
    explicit CentredWindow(Qt::WindowFlags flags = Qt::Window);

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool m_placed = false;
};
