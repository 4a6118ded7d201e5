#include "platform/widgets/LinkLabel.h"

#include <QMouseEvent>

namespace platform {

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setCursor(Qt::PointingHandCursor);
    setStyleSheet(QStringLiteral("color: #1a4fb0; text-decoration: underline;"));
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

} // namespace platform
