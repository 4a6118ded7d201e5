#include "platform/tray/QtTrayIcon.h"

namespace platform {

QtTrayIcon::QtTrayIcon()
{
    QObject::connect(&icon_, &QSystemTrayIcon::activated, &icon_,
                     [this](QSystemTrayIcon::ActivationReason reason) { activated(reason); });
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

void QtTrayIcon::activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger && handler_)
        handler_();
}

} // namespace platform
