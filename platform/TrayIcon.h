#pragma once

#include <functional>

#include <QString>

class QIcon;

namespace platform {

// One icon in the desktop's notification area. Activation reports the release of the
// left button over the icon; nothing else does. Its context menu holds the entries added,
// in order; choosing one runs that entry's handler.
class TrayIcon {
public:
    virtual ~TrayIcon() = default;
    virtual bool available() const = 0;   // the desktop has a notification area
    virtual void add(const QIcon& icon, const QString& tip) = 0;
    virtual void onLeftButtonRelease(std::function<void()> handler) = 0;
    virtual void addMenuEntry(const QString& text, std::function<void()> handler) = 0;
};

} // namespace platform
