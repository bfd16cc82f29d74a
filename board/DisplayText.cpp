#include "DisplayText.h"

#include <QCoreApplication>

namespace DisplayText {

namespace {

bool hasLongRun(const QString &text)
{
    qsizetype run = 0;
    for (const QChar ch : text) {
        run = ch.isSpace() ? 0 : run + 1;
        if (run > LongestRun)
            return true;
    }
    return false;
}

} // namespace

QString shortened(const QString &text)
{
    if (text.size() > LongestText) {
        qsizetype cut = LongestText;
        if (text[cut].isLowSurrogate())
            --cut; // never split a character in two
        return shortened(text.first(cut)) +
               QCoreApplication::translate("DisplayText", "\u2026 (%n more characters)", nullptr,
                                           int(std::min<qsizetype>(text.size() - cut, INT_MAX)));
    }
    if (!hasLongRun(text))
        return text;
    QString shown;
    qsizetype run = 0;    // characters since the last place to break
    qsizetype hidden = 0; // characters of the current run not shown
    const auto noteHidden = [&] {
        if (hidden == 0)
            return;
        shown += QCoreApplication::translate("DisplayText", "\u2026 (%n more characters)", nullptr,
                                             int(std::min<qsizetype>(hidden, INT_MAX)));
        hidden = 0;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch.isSpace()) {
            noteHidden();
            run = 0;
            shown += ch;
            continue;
        }
        // A character beyond 16 bits stays whole: its two halves are shown or hidden together.
        if (++run > LongestRun && !(ch.isLowSurrogate() && hidden == 0))
            ++hidden;
        else
            shown += ch;
    }
    noteHidden();
    return shown;
}

} // namespace DisplayText
