#pragma once

#include <QStringView>

namespace horavo {

// The text forms in which a usage row stores its day and its times of day. The store
// takes nothing else into idate, stime and xtime; the check and the report find the rows
// that hold anything else. (The report's queries test the date form in SQL as well:
// SQLite's date(x, '+0 days'), and a pattern with the month lengths on a server.)
//
// A date is "YYYY-MM-DD" with ASCII digits, naming a real day of the years 0001 to 9999
// (2024-02-29 is one, 2023-02-29 and 0000-01-01 are not).
bool isStoredDate(QStringView text);

// A time of day is "HH:MM:SS" with ASCII digits, from 00:00:00 to 23:59:59.
bool isStoredTime(QStringView text);

} // namespace horavo
