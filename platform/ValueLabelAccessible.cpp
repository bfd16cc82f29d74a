#include "ValueLabelAccessible.h"

#include "ValueLabel.h"

#include <algorithm>

namespace {

// Holds the role of the labels that `present` has named; every other label keeps Qt's own
// accessible face.
const char *const ValueRole = "accessibleValueRole";

QAccessibleInterface *valueLabelFactory(const QString &className, QObject *object)
{
    const QVariant role = object->property(ValueRole);
    if (className != QLatin1String("QLabel") || !role.isValid())
        return nullptr;
    return new ValueLabelAccessible(static_cast<QLabel *>(object), role.value<QAccessible::Role>());
}

} // namespace

ValueLabelAccessible::ValueLabelAccessible(QLabel *label, QAccessible::Role role)
    : QAccessibleWidget(label, role)
{
}

void ValueLabelAccessible::present(ValueLabel *label, const QString &name, QAccessible::Role role)
{
    // Factories installed later are asked first, so this one comes before Qt's own for QLabel.
    static const bool installed = [] {
        QAccessible::installFactory(valueLabelFactory);
        return true;
    }();
    Q_UNUSED(installed)
    label->setProperty(ValueRole, QVariant::fromValue(role));
    label->setAccessibleName(name);
    // A label given its text on construction may already have Qt's own interface, made for an
    // event while a screen reader listened; dropping it lets the next query make this one.
    QAccessibleInterface *existing = QAccessible::queryAccessibleInterface(label);
    if (existing && !dynamic_cast<ValueLabelAccessible *>(existing))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(existing));
}

void *ValueLabelAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State ValueLabelAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    return state;
}

QString ValueLabelAccessible::text(QAccessible::Text type) const
{
    if (type == QAccessible::Value)
        return shown();
    return QAccessibleWidget::text(type);
}

QString ValueLabelAccessible::shown() const
{
    return static_cast<const QLabel *>(widget())->text();
}

QString ValueLabelAccessible::text(int startOffset, int endOffset) const
{
    const QString all = shown();
    if (endOffset < 0 || endOffset > all.size())
        endOffset = int(all.size());
    startOffset = std::clamp(startOffset, 0, endOffset);
    return all.mid(startOffset, endOffset - startOffset);
}

int ValueLabelAccessible::characterCount() const
{
    return int(shown().size());
}

void ValueLabelAccessible::selection(int, int *startOffset, int *endOffset) const
{
    *startOffset = 0;
    *endOffset = 0;
}

int ValueLabelAccessible::selectionCount() const
{
    return 0;
}

void ValueLabelAccessible::addSelection(int, int) {}

void ValueLabelAccessible::removeSelection(int) {}

void ValueLabelAccessible::setSelection(int, int, int) {}

int ValueLabelAccessible::cursorPosition() const
{
    return 0;
}

void ValueLabelAccessible::setCursorPosition(int) {}

QRect ValueLabelAccessible::characterRect(int) const
{
    return {};
}

int ValueLabelAccessible::offsetAtPoint(const QPoint &) const
{
    return -1;
}

void ValueLabelAccessible::scrollToSubstring(int, int) {}

QString ValueLabelAccessible::attributes(int, int *startOffset, int *endOffset) const
{
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}
