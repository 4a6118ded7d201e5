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

} // namespace store::detail
