#pragma once

#include <QGroupBox>

// A captioned frame drawn as a board zone: an etched line around the zone with the caption
// set into its top edge, in the frame's own colours whatever the widget style.
class ZoneFrameBox : public QGroupBox
{
    Q_OBJECT
public:
    ZoneFrameBox(const QString &caption, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
};
