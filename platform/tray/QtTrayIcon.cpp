#include "platform/tray/QtTrayIcon.h"

namespace platform {

QtTrayIcon::QtTrayIcon()
{
    QObject::connect(&icon_, &QSystemTrayIcon::activated, &icon_,
                     [this](QSystemTrayIcon::ActivationReason reason) { activated(reason); });
    icon_.setContextMenu(&menu_);
}

QtTrayIcon::~QtTrayIcon() = default;

bool QtTrayIcon::available() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtTrayIcon::add(const QIcon& icon, const QString& tip)
{
    icon_.setIcon(icon);
    icon_.setToolTip(tip);
    icon_.show();
}

void QtTrayIcon::onLeftButtonRelease(std::function<void()> handler)
{
    handler_ = std::move(handler);
}

void QtTrayIcon::addMenuEntry(const QString& text, std::function<void()> handler)
{
    QAction* entry = menu_.addAction(text);
    QObject::connect(entry, &QAction::triggered, entry, [handler = std::move(handler)] { handler(); });
}

void QtTrayIcon::activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger && handler_)
        handler_();
}

} // namespace platform
