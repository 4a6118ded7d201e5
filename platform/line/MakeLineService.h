#pragma once

#include <memory>

#include <QString>

#include "platform/line/DialableLine.h"
#include "rules/Failure.h"

namespace platform {

// A TALLYON_LINE value that names no backend; the text says what is accepted.
class LineChoiceError : public horavo::Failure {
public:
    using Failure::Failure;
};

inline constexpr const char* kLineVariable = "TALLYON_LINE";
inline constexpr const char* kTickVariable = "TALLYON_TICK_MS";

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

// The minute tick that TALLYON_TICK_MS asks for (`setting`, a number of milliseconds),
// on the line that `lineChoice` names. It is a testing aid, taken only on the simulated
// line: on a real line every tick bills a minute, so a longer tick would bill one minute
// an hour, and a shorter one a minute every second. There the minute stays 60 s and
// `ignored` is the line for the program's log that says so.
struct MinuteTick {
    int overrideMs = 0;   // 0: the program's own 60,000 ms
    QString ignored;
};
MinuteTick minuteTickFor(const QString& lineChoice, const QString& setting);

} // namespace platform
