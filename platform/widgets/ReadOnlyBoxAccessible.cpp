#include "platform/widgets/ReadOnlyBoxAccessible.h"

#include <QLineEdit>

namespace platform {

ReadOnlyBoxAccessible::ReadOnlyBoxAccessible(QLineEdit* box) : QAccessibleWidget(box, QAccessible::EditableText) {}

QLineEdit* ReadOnlyBoxAccessible::box() const
{
    return static_cast<QLineEdit*>(widget());
}

QAccessible::State ReadOnlyBoxAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.editable = false;
    state.readOnly = true;
    state.selectableText = true;
    return state;
}

QString ReadOnlyBoxAccessible::text(QAccessible::Text kind) const
{
    if (kind == QAccessible::Value)
        return box()->text();
    return QAccessibleWidget::text(kind);
}

void* ReadOnlyBoxAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

void ReadOnlyBoxAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || !box()->hasSelectedText())
        return;
    *startOffset = int(box()->selectionStart());
    *endOffset = *startOffset + int(box()->selectedText().size());
}

int ReadOnlyBoxAccessible::selectionCount() const
{
    return box()->hasSelectedText() ? 1 : 0;
}

void ReadOnlyBoxAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void ReadOnlyBoxAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        box()->deselect();
}

void ReadOnlyBoxAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        box()->setSelection(startOffset, endOffset - startOffset);
}

int ReadOnlyBoxAccessible::cursorPosition() const
{
    return box()->cursorPosition();
}

void ReadOnlyBoxAccessible::setCursorPosition(int position)
{
    box()->setCursorPosition(position);
}

QString ReadOnlyBoxAccessible::text(int startOffset, int endOffset) const
{
    return box()->text().mid(startOffset, endOffset - startOffset);
}

int ReadOnlyBoxAccessible::characterCount() const
{
    return int(box()->text().size());
}

QRect ReadOnlyBoxAccessible::characterRect(int offset) const
{
    // The box shows one short line: the whole of it stands for each of its characters.
    Q_UNUSED(offset);
    return rect();
}

int ReadOnlyBoxAccessible::offsetAtPoint(const QPoint& point) const
{
    return box()->cursorPositionAt(box()->mapFromGlobal(point));
}

void ReadOnlyBoxAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    Q_UNUSED(endIndex);
    box()->setCursorPosition(startIndex);
}

QString ReadOnlyBoxAccessible::attributes(int offset, int* startOffset, int* endOffset) const
{
    *startOffset = 0;
    *endOffset = characterCount();
    Q_UNUSED(offset);
    return {};
}

} // namespace platform
