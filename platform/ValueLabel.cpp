#include "ValueLabel.h"

#include <QAccessible>

void ValueLabel::setText(const QString &text)
{
    const QString old = this->text();
    if (text == old)
        return;
    QLabel::setText(text);
    // Without a screen reader nobody listens, and making the event would only cost time.
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent event(this, 0, old, text);
        QAccessible::updateAccessibility(&event);
    }
}
