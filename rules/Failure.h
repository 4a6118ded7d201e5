#pragma once

#include <stdexcept>

#include <QString>

namespace horavo {

// The base of every failure of this project that the user must see: a database that
// cannot be read or written, a program that cannot be started, a line service that
// cannot be reached. message() is the text for the message box, in the user's
// language. It lives in the lowest layer so that every library can throw it, and the
// one place per event that shows it (Form::handle, the grid's model) catches it alone.
class Failure : public std::runtime_error {
public:
    explicit Failure(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

} // namespace horavo
