#pragma once

#include <QAccessibleWidget>

class QLabel;
class ValueLabel;

// How a screen reader sees a label that shows a changing value under a fixed name, such as the
// opponent's life points, a zone display or the status line: the name says what the label is
// and whose, the text says what it shows now. A plain label offers only its name, so naming it
// would hide the value; this one offers its text through the text interface as well, and
// ValueLabel reports each change of that text.
class ValueLabelAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    ValueLabelAccessible(QLabel *label, QAccessible::Role role);

    // Gives `label` the accessible name `name` and has screen readers read its text as what
    // stands under that name, in the role `role` (a status line is a status bar). Call it
    // before the label is first shown.
    static void present(ValueLabel *label, const QString &name,
                        QAccessible::Role role = QAccessible::StaticText);

    void *interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text type) const override;

    // The label's whole text, read-only: no caret, no selection.
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    QString shown() const;
};
