#include "store/ReadRow.h"

#include <cmath>
#include <cstdio>

#include <QByteArray>

#include "store/Engine.h"

namespace store {

QString storedText(const StoredValue& value)
{
    switch (value.type) {
    case StoredValue::Type::Null:
        return {};
    case StoredValue::Type::Integer:
        return QString::number(value.integer);
    case StoredValue::Type::Real: {
        if (std::isinf(value.real))
            return value.real > 0 ? QStringLiteral("Inf") : QStringLiteral("-Inf");
        if (std::isnan(value.real))
            return {};
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "%.15g", value.real);
        QByteArray text(buffer);
        if (!text.contains('.')) {
            const qsizetype exponent = text.indexOf('e');
            text.insert(exponent < 0 ? text.size() : exponent, ".0");
        }
        return QString::fromLatin1(text);
    }
    case StoredValue::Type::Text:
    case StoredValue::Type::Blob:
        return QString::fromUtf8(value.bytes.data(), qsizetype(value.bytes.size()));
    }
    return {};
}

std::optional<std::int64_t> wholeNumber(const StoredValue& value)
{
    if (value.type == StoredValue::Type::Integer)
        return value.integer;
    // Below 2^63, the first double beyond a 64-bit integer.
    if (value.type == StoredValue::Type::Real && std::isfinite(value.real) && std::trunc(value.real) == value.real
        && std::fabs(value.real) < 9223372036854775808.0)
        return std::int64_t(value.real);
    return std::nullopt;
}

QVariant storedVariant(const StoredValue& value)
{
    switch (value.type) {
    case StoredValue::Type::Null:
        return {};
    case StoredValue::Type::Integer:
        return qlonglong(value.integer);
    case StoredValue::Type::Real:
        return value.real;
    case StoredValue::Type::Text:
        return QString::fromUtf8(value.bytes.data(), qsizetype(value.bytes.size()));
    case StoredValue::Type::Blob:
        return QByteArray(value.bytes.data(), qsizetype(value.bytes.size()));
    }
    return {};
}

QVariant ReadRow::value(int field) const
{
    return detail::toVariant(values_[std::size_t(field)], fields_[std::size_t(field)].type);
}

ColumnKind ReadRow::kind(int field) const
{
    const detail::FieldType& type = fields_[std::size_t(field)].type;
    return type.known ? type.kind : ColumnKind::Text;
}

} // namespace store
