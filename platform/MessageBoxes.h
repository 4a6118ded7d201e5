#pragma once

#include <QString>

namespace platform {

enum class Buttons { Ok, OkCancel };
enum class Answer { Ok, Cancel };

// Modal message boxes: no icon, an OK button or OK and Cancel ("确定", "取消"). A box
// that names no title carries the application title. Closing a box counts as Cancel.
class MessageBoxes {
public:
    explicit MessageBoxes(QString applicationTitle) : applicationTitle_(std::move(applicationTitle)) {}
    virtual ~MessageBoxes() = default;

    Answer show(const QString& prompt, const QString& title = {}, Buttons buttons = Buttons::Ok)
    {
        return present(prompt, title.isEmpty() ? applicationTitle_ : title, buttons);
    }
    Answer ask(const QString& prompt, const QString& title = {})
    {
        return show(prompt, title, Buttons::OkCancel);
    }
    const QString& applicationTitle() const { return applicationTitle_; }

protected:
    virtual Answer present(const QString& prompt, const QString& title, Buttons buttons) = 0;

private:
    QString applicationTitle_;
};

} // namespace platform
