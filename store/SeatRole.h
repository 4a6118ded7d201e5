#pragma once

#include <QString>

namespace store {

class DatabaseAddress;

// The role a room's seats connect as, unless create is told another.
inline constexpr const char* kDefaultSeatRole = "horavo_seat";

// Makes (or takes, when it exists) the seats' role on a server database whose tables the
// connecting role owns, and bounds what it may do there with the server's own access
// control: it reads the three tables, registers users only with code 3, appends usage
// rows and makes them grow, and nothing else. A usage row it appends starts with 1
// minute at the server's time, give or take kSeatClockSkewMinutes; a later write keeps
// the row's user, date and start, never lowers its minutes, and never raises them past
// the minutes elapsed on the server's clock since the row was appended, plus two (the
// minute it began and the minute of the tick that began it). The tables' owner, the
// administrators' role, is bound by none of this. Throws StoreError.
void prepareSeatRole(const DatabaseAddress& server, const QString& role);

inline constexpr int kSeatClockSkewMinutes = 10;

// Whether the windows of administration can save through this address: always for a
// file; on a server, when its role may change users.
bool mayAdminister(const DatabaseAddress& address);

} // namespace store
