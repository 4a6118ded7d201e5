#pragma once

#include <QByteArray>

#include "store/Engine.h"

namespace store::detail {

// A name as a quoted identifier, as both engines read it: "na""me".
inline QByteArray quoted(const QByteArray& name)
{
    QByteArray q = name;
    q.replace('"', "\"\"");
    return '"' + q + '"';
}

// schema.table, each part quoted.
inline QByteArray tableName(const Table& table)
{
    return quoted(table.schema) + '.' + quoted(table.name);
}

// INSERT INTO table (a, b) VALUES (?, ?) for the columns of values, or DEFAULT VALUES
// when there are none; markOf(n) writes the engine's mark of the n-th parameter (1..).
template <typename MarkOf>
QByteArray insertStatement(const Table& table, const ColumnValues& values, MarkOf markOf)
{
    QByteArray sql = "INSERT INTO " + tableName(table);
    if (values.empty())
        return sql + " DEFAULT VALUES";
    QByteArray names;
    QByteArray marks;
    int number = 1;
    for (const auto& [column, value] : values) {
        names += (names.isEmpty() ? "" : ", ") + quoted(column);
        marks += (marks.isEmpty() ? "" : ", ") + markOf(number++);
    }
    return sql + " (" + names + ") VALUES (" + marks + ")";
}

} // namespace store::detail
