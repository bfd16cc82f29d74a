#include "Fonts.h"

#include <QStringList>

namespace {

QFont face(const char *name, const char *standIn, qreal points)
{
    QFont font(QStringList{QString::fromLatin1(name), QString::fromLatin1(standIn)}, -1);
    font.setPointSizeF(points);
    // Latin text needs no shaping to be legible; skipping it (scripts that need it are still
    // shaped) makes every edit of a multi-line box a quarter cheaper to lay out.
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

} // namespace

namespace Fonts {

QFont windowFont()
{
    return sans(8.25);
}

QFont sans(qreal points)
{
    QFont font = face("MS Sans Serif", "Liberation Sans", points);
    // The stand-in runs a few percent wider than the face the windows were laid out with;
    // tighter spacing keeps captions such as "Life Points" within their labels.
    font.setLetterSpacing(QFont::PercentageSpacing, 94);
    return font;
}

QFont serif(qreal points)
{
    return face("Times New Roman", "Liberation Serif", points);
}

QFont comic(qreal points)
{
    return face("Comic Sans MS", "Comic Neue", points);
}

} // namespace Fonts
