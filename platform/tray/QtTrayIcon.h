#pragma once

#include <QMenu>
#include <QSystemTrayIcon>

#include "platform/TrayIcon.h"

namespace platform {

// The notification-area icon on QSystemTrayIcon; nothing else in the program touches
// QSystemTrayIcon. Only a click (the release of the left button, Trigger) reaches the
// handler; the context menu request, a double or middle click and unknown reasons do not.
// The context menu is a QMenu of the entries added.
class QtTrayIcon final : public TrayIcon {
public:
    QtTrayIcon();
    ~QtTrayIcon() override;

    bool available() const override;
    void add(const QIcon& icon, const QString& tip) override;
    void onLeftButtonRelease(std::function<void()> handler) override;
    void addMenuEntry(const QString& text, std::function<void()> handler) override;

    // The icon itself, for tests that emit its activated() signal by hand.
    QSystemTrayIcon& systemTrayIcon() { return icon_; }
    QMenu& menu() { return menu_; }

private:
    void activated(QSystemTrayIcon::ActivationReason reason);

    QMenu menu_;
    QSystemTrayIcon icon_;
    std::function<void()> handler_;
};

} // namespace platform
