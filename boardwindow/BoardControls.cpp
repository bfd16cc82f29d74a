#include "BoardControls.h"

#include "board/BoardSnapshot.h"
#include "board/DisplayText.h"
#include "board/TableProtocol.h"
#include "platform/ValueLabel.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextCursor>

namespace {

// Gives a read-only list box `text` by replacing only the part that differs from what it shows.
// Each keystroke of the opponent resends the whole list; replacing it all would lay out every
// line again, so a long graveyard would get slower with every card.
void replaceChangedText(QPlainTextEdit *box, const QString &text)
{
    const QString shown = box->toPlainText();
    if (shown == text)
        return;
    const qsizetype limit = std::min(shown.size(), text.size());
    qsizetype prefix = 0;
    while (prefix < limit && shown[prefix] == text[prefix])
        ++prefix;
    if (prefix > 0 && shown[prefix - 1].isHighSurrogate())
        --prefix; // never split a character in two
    qsizetype suffix = 0;
    while (suffix < limit - prefix &&
           shown[shown.size() - 1 - suffix] == text[text.size() - 1 - suffix])
        ++suffix;
    if (suffix > 0 && shown[shown.size() - suffix].isLowSurrogate())
        --suffix;
    QTextCursor cursor(box->document());
    cursor.beginEditBlock();
    cursor.setPosition(int(prefix));
    cursor.setPosition(int(shown.size() - suffix), QTextCursor::KeepAnchor);
    cursor.insertText(text.mid(prefix, text.size() - prefix - suffix));
    cursor.endEditBlock();
}

} // namespace

QString BoardControls::ownText(const ZoneMirror &mirror) const
{
    const Zone &controls = zone(mirror);
    return controls.lineEditor ? controls.lineEditor->text() : controls.textEditor->toPlainText();
}

bool BoardControls::acceptOwnText(const ZoneMirror &mirror)
{
    QString &accepted = acceptedTexts[ZoneTable::indexOf(mirror)];
    const QString text = ownText(mirror);
    if (TableProtocol::fits(mirror, text)) {
        accepted = text;
        return true;
    }
    const Zone &controls = zone(mirror);
    if (controls.lineEditor) {
        const QSignalBlocker quiet(controls.lineEditor);
        controls.lineEditor->setText(accepted);
        return false;
    }
    const QSignalBlocker quiet(controls.textEditor);
    controls.textEditor->setPlainText(accepted);
    controls.textEditor->moveCursor(QTextCursor::End);
    return false;
}

bool BoardControls::showOpponentText(const ZoneMirror &mirror, const QString &text)
{
    QString &whole = opponentTexts[ZoneTable::indexOf(mirror)];
    const bool changed = whole != text;
    whole = text;
    const Zone &controls = zone(mirror);
    if (controls.labelDisplay)
        controls.labelDisplay->setText(DisplayText::shortened(text));
    else
        replaceChangedText(controls.listDisplay, DisplayText::shortened(text));
    return changed;
}

// Without rebuilding the text before it, so a long conversation costs no more per line than a
// short one.
void BoardControls::appendToChat(const QString &entry)
{
    chatText += entry + QStringLiteral("\n\n");
    QTextCursor end(chatLog->document());
    end.movePosition(QTextCursor::End);
    end.insertText(DisplayText::shortened(entry) + QStringLiteral("\n\n"));
}

BoardSnapshot BoardControls::snapshot() const
{
    BoardSnapshot snapshot;
    for (const ZoneMirror &mirror : ZoneTable::all()) {
        const std::size_t row = ZoneTable::indexOf(mirror);
        snapshot.localZones[row] = ownText(mirror);
        snapshot.opponentZones[row] = opponentTexts[row];
    }
    snapshot.name = chatName->text();
    snapshot.chat = chatText;
    return snapshot;
}

void BoardControls::restore(const BoardSnapshot &snapshot)
{
    for (const ZoneMirror &mirror : ZoneTable::all()) {
        const Zone &controls = zone(mirror);
        const std::size_t row = ZoneTable::indexOf(mirror);
        if (controls.lineEditor)
            controls.lineEditor->setText(snapshot.localZones[row]);
        else
            controls.textEditor->setPlainText(snapshot.localZones[row]);
        opponentTexts[row] = snapshot.opponentZones[row];
        if (controls.labelDisplay)
            controls.labelDisplay->setText(DisplayText::shortened(opponentTexts[row]));
        else
            controls.listDisplay->setPlainText(DisplayText::shortened(opponentTexts[row]));
    }
    chatName->setText(snapshot.name);
    chatText = snapshot.chat;
    chatLog->setPlainText(DisplayText::shortened(chatText));
}
