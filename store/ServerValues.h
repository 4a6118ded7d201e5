#pragma once

// How values travel to and from a PostgreSQL server: the text libpq gives for each type
// read as the cells a file's engine would give, and cells sent as libpq's parameters.
#include <string>
#include <vector>

#include "store/RowBuffer.h"
#include "store/Values.h"

struct pg_result;

namespace store::detail {

// The value of one cell of a result as a record set keeps it: whole numbers and yes/no
// as integers, other numbers as reals, everything else as the text the server wrote.
// Bytes of a bytea go through scratch, which must outlive the cell.
Cell serverCell(const pg_result* result, int row, int column, unsigned int type, std::string& scratch);
// Every cell of one row of a result, owned.
std::vector<OwnedCell> ownedRow(const pg_result* result, int row);

// One cell as a field of COPY's text format, appended to line: NULL as \N, numbers as
// parameters write them, text with backslash, tab, line feed and carriage return as
// backslash escapes. Text holding a zero byte throws StoreError, as a parameter does.
void appendCopyField(std::string& line, const Cell& cell);

// Cells as libpq's parameters: numbers in the text the server reads back exactly, text
// as it is, bytes in binary form.
class ServerParameters {
public:
    explicit ServerParameters(const std::vector<Cell>& cells);

    int count() const { return int(values_.size()); }
    const char* const* values() const { return values_.data(); }
    const int* lengths() const { return lengths_.data(); }
    const int* formats() const { return formats_.data(); }

private:
    void add(const Cell& cell);

    std::vector<std::string> texts_;
    std::vector<bool> isNull_;
    std::vector<const char*> values_;
    std::vector<int> lengths_;
    std::vector<int> formats_;
};

} // namespace store::detail
