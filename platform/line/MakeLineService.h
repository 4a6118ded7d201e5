#pragma once

#include <memory>
#include <stdexcept>

#include <QString>

#include "DialableLine.h"

namespace platform {

// A TALLYON_LINE value that names no backend; the text says what is accepted.
class LineChoiceError : public std::runtime_error {
public:
    explicit LineChoiceError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

inline constexpr const char* kLineVariable = "TALLYON_LINE";

// The line service that TALLYON_LINE chooses:
//   unset, empty or "networkmanager"  NetworkManager's PPPoE profiles (through nmcli)
//   "sim:FILE"                        the simulated line kept in the JSON file FILE
// Anything else throws LineChoiceError.
std::unique_ptr<DialableLine> makeLineService();
std::unique_ptr<DialableLine> makeLineService(const QString& choice);

// The FILE of a "sim:FILE" choice, empty for any other.
QString simulatedLineFile(const QString& choice);

} // namespace platform
