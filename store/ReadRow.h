#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>
#include <QVariant>

#include "store/RowBuffer.h"
#include "store/Schema.h"

namespace store {

namespace detail {
struct Field;
}

// A value as the engine stored it: null, integer, real, text (UTF-8) or blob.
using StoredValue = detail::Cell;

// The text an engine shows for a stored value, as a file's engine writes it: NULL is
// empty, a whole number as it is, a real with 15 significant digits and always a decimal
// point or an exponent ("-1.0", "1.0e+300"), text as it is, a blob's bytes as text.
QString storedText(const StoredValue& value);
// The whole number a value holds: an integer, or a real without a fraction in range.
std::optional<std::int64_t> wholeNumber(const StoredValue& value);
// The value as a QVariant of its stored type: null, qlonglong, double, QString or QByteArray.
QVariant storedVariant(const StoredValue& value);

// One row of a forward read (ReadOnlyDatabase::forEachRow). Its values point into the
// engine's own memory: they hold until the read moves to the next row.
class ReadRow {
public:
    ReadRow(const std::vector<detail::Field>& fields, const std::vector<StoredValue>& values)
        : fields_(fields), values_(values)
    {
    }

    int fieldCount() const { return int(values_.size()); }
    const StoredValue& stored(int field) const { return values_[std::size_t(field)]; }
    // The value as a record set gives it: following the column's kind where it fits.
    QVariant value(int field) const;
    // The kind of the schema's column the field reads, Text for anything else.
    ColumnKind kind(int field) const;

private:
    const std::vector<detail::Field>& fields_;
    const std::vector<StoredValue>& values_;
};

} // namespace store
