#pragma once

#include <cstdint>
#include <string>

#include <QString>
#include <QVariant>

#include "store/RowBuffer.h"
#include "store/Schema.h"

namespace store::detail {

// A value that owns its bytes: a value waiting to be written, or one read back.
struct OwnedCell {
    Cell::Type type = Cell::Type::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string bytes;

    static OwnedCell from(const Cell& cell);
    Cell view() const;
};

// What a field holds: the kind of the table column it comes from, or nothing known
// (an expression, which is read as the engine stored it).
struct FieldType {
    ColumnKind kind = ColumnKind::Text;
    bool known = false;
};

// A stored value as the callers see it: null QVariant, qlonglong, double, bool (yes/no)
// or QString, following the column's kind where the stored value fits it.
QVariant toVariant(const Cell& cell, FieldType type);

// A caller's value checked against the column's kind and put in the form that is
// stored. An empty value (null QVariant, or blank text for any kind but Text) is NULL.
// A value the kind does not allow throws StoreError naming fieldName and the rule.
OwnedCell toStored(const QVariant& value, ColumnKind kind, const QString& fieldName);

} // namespace store::detail
