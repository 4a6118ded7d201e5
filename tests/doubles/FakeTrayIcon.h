#pragma once

#include <functional>
#include <utility>
#include <vector>

#include <QIcon>
#include <QString>
#include <QStringList>

#include "platform/TrayIcon.h"

namespace doubles {

// A notification-area icon that records what it was given; the test releases the left
// button over it with releaseLeftButton() and chooses a menu entry with choose().
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
    void addMenuEntry(const QString& text, std::function<void()> handler) override
    {
        menu_.emplace_back(text, std::move(handler));
    }

    QStringList menu() const
    {
        QStringList texts;
        for (const auto& entry : menu_)
            texts << entry.first;
        return texts;
    }
    void choose(const QString& text)
    {
        for (const auto& entry : menu_) {
            if (entry.first == text)
                entry.second();
        }
    }

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
    std::vector<std::pair<QString, std::function<void()>>> menu_;
};

} // namespace doubles
