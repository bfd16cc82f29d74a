#pragma once

#include <QGroupBox>

// A captioned frame drawn as a board zone: an etched line around the zone with the caption
// set into its top edge, in the frame's own colours whatever the widget style.
class ZoneFrameBox : public QGroupBox
{
    Q_OBJECT
public:
    ZoneFrameBox(const QString &caption, QWidget *parent);

    // Draws the caption on `background` in `text` rather than in the frame's own colours;
    // invalid colours bring the frame's own back. Only the caption is drawn again.
    void setCaptionColours(const QColor &background, const QColor &text);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect captionArea() const;

    QColor m_captionBackground;
    QColor m_captionText;
};
