#pragma once

#include <QProxyStyle>

// The desktop style, except that one-line text boxes get the same square one-pixel frame as
// the multi-line boxes beside them. The stock frame is a rounded, antialiased outline that costs
// several times the rest of the box to draw, and a box is redrawn on every keystroke and on
// every edit the opponent sends.
class SquareTextBoxStyle : public QProxyStyle
{
    Q_OBJECT
public:
    explicit SquareTextBoxStyle(QObject *owner);

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
};
