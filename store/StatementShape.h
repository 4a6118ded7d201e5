#pragma once

#include <QByteArray>

namespace store::detail {

// What the text of one statement tells about its rows, read token by token (string
// literals, quoted names and comments are skipped whole, so typed text cannot fool it).
struct StatementShape {
    // Byte offset just after the leading SELECT (and ALL), where a hidden first column
    // can go; -1 when the statement does not begin with SELECT.
    qsizetype afterSelect = -1;
    // Each result row is one row of the table it reads: no DISTINCT, grouping,
    // aggregate, compound select, join or subquery in FROM at the top level.
    bool rowsAreTableRows = false;
};

// Reads the first statement of sql (UTF-8).
StatementShape analyseStatement(const QByteArray& sql);

} // namespace store::detail
