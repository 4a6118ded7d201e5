#pragma once

#include <string_view>

#include <QStringView>

namespace horavo {

// The text forms in which a usage row stores its day and its times of day. The store
// takes nothing else into idate, stime and xtime; the check and the report find the rows
// that hold anything else.
//
// A date is "YYYY-MM-DD" with ASCII digits, naming a real day of the years 0001 to 9999
// (2024-02-29 is one, 2023-02-29 and 0000-01-01 are not). The bytes forms take the
// stored bytes (UTF-8) as the engines give them.
bool isStoredDate(QStringView text);
bool isStoredDate(std::string_view bytes);

// A time of day is "HH:MM:SS" with ASCII digits, from 00:00:00 to 23:59:59.
bool isStoredTime(QStringView text);
bool isStoredTime(std::string_view bytes);

} // namespace horavo
