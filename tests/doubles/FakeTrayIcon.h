#pragma once

#include <functional>

#include <QIcon>
#include <QString>

#include "platform/TrayIcon.h"

namespace doubles {

// A notification-area icon that records what it was given; the test releases the left
// button over it with releaseLeftButton().
class FakeTrayIcon final : public platform::TrayIcon {
public:
    explicit FakeTrayIcon(bool available = true) : available_(available) {}

    bool available() const override { return available_; }
    void add(const QIcon& icon, const QString& tip) override
    {
        ++adds;
        this->icon = icon;
        this->tip = tip;
    }
    void onLeftButtonRelease(std::function<void()> handler) override { handler_ = std::move(handler); }

    void releaseLeftButton()
    {
        if (handler_)
            handler_();
    }

    int adds = 0;
    QIcon icon;
    QString tip;

private:
    bool available_;
    std::function<void()> handler_;
};

} // namespace doubles
