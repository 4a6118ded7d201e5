#pragma once

#include <memory>

#include <QString>

#include "platform/line/DialableLine.h"
#include "store/Failure.h"

namespace platform {

// A TALLYON_LINE value that names no backend; the text says what is accepted.
class LineChoiceError : public horavo::Failure {
public:
    using Failure::Failure;
};

inline constexpr const char* kLineVariable = "TALLYON_LINE";

// The line service that TALLYON_LINE chooses:
//   unset, empty or "networkmanager"  NetworkManager's PPPoE profiles (through nmcli)
//   "lan"                             a room behind a router that keeps the line up:
//                                     up while this machine is online, nothing dialed
//   "sim:FILE"                        the simulated line kept in the JSON file FILE
// Anything else throws LineChoiceError.
std::unique_ptr<DialableLine> makeLineService();
std::unique_ptr<DialableLine> makeLineService(const QString& choice);

// The FILE of a "sim:FILE" choice, empty for any other.
QString simulatedLineFile(const QString& choice);

} // namespace platform
