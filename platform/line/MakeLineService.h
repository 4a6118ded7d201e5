#pragma once

#include <memory>

#include <QString>

#include "platform/line/DialableLine.h"
#include "rules/Failure.h"
#include "settings/RoomSettings.h"

namespace platform {

// A line choice that names no backend, or settings that cannot be read; the text says
// where the choice was made and what is accepted.
class LineChoiceError : public horavo::Failure {
public:
    using Failure::Failure;
};

using horavo::kLineVariable;
inline constexpr const char* kTickVariable = "TALLYON_TICK_MS";

// The room's line choice (TALLYON_LINE, else the settings file's line). Throws
// LineChoiceError when the settings file cannot be read.
horavo::Setting chosenLine();

// The line service that a choice names (`origin` says where it was made, for the message):
//   unset, empty or "networkmanager"  NetworkManager's PPPoE profiles (through nmcli)
//   "lan"                             a room behind a router that keeps the line up:
//                                     up while this machine is online, nothing dialed
//   "sim:FILE"                        the simulated line kept in the JSON file FILE
// Anything else throws LineChoiceError.
std::unique_ptr<DialableLine> makeLineService(const QString& choice, const QString& origin = QString::fromLatin1(kLineVariable));
// The line service of the room's choice.
std::unique_ptr<DialableLine> makeLineService();

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
