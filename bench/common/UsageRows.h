#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include <QString>

namespace bench {

// Adds count usage rows to the database file at path, in one transaction: row i is
// userOf(i)'s, on a day of 2024, of 1 to 600 minutes, between two times. A failure ends
// the program with exit code 1.
void fillUsageRows(const QString& path, std::size_t count, const std::function<std::string(std::size_t)>& userOf);

// "user007" for 7: the name of one of many users.
std::string numberedUser(std::size_t number);

} // namespace bench
