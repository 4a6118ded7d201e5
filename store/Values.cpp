#include "store/Values.h"

#include <cmath>
#include <limits>
#include <optional>

#include <QDate>
#include <QDateTime>
#include <QTime>

#include "rules/DateText.h"
#include "store/StoreError.h"
#include "store/UserName.h"

namespace store::detail {

namespace {

QString textOf(const Cell& cell)
{
    return QString::fromUtf8(cell.bytes.data(), qsizetype(cell.bytes.size()));
}

QString numberText(double value)
{
    return QString::number(value, 'g', 15);
}

// 2^63: the first double that no longer fits a qlonglong.
constexpr double kInt64Limit = 9223372036854775808.0;

std::optional<qlonglong> wholeNumber(double value)
{
    if (!std::isfinite(value) || std::trunc(value) != value || value >= kInt64Limit || value < -kInt64Limit)
        return std::nullopt;
    return qlonglong(value);
}

OwnedCell nullCell()
{
    return {};
}

OwnedCell integerCell(std::int64_t value)
{
    OwnedCell cell;
    cell.type = Cell::Type::Integer;
    cell.integer = value;
    return cell;
}

OwnedCell realCell(double value)
{
    OwnedCell cell;
    cell.type = Cell::Type::Real;
    cell.real = value;
    return cell;
}

OwnedCell textCell(const QString& value)
{
    OwnedCell cell;
    cell.type = Cell::Type::Text;
    cell.bytes = value.toStdString();
    return cell;
}

// The caller's value sorted into what the rules below look at.
struct Given {
    enum class What { Empty, Bool, Whole, Number, Text, Date, Time, DateTime, Other } what = What::Other;
    qlonglong whole = 0;
    double number = 0;
    bool flag = false;
    QString text; // trimmed for the parsed kinds
    QVariant original;
};

Given classify(const QVariant& value)
{
    Given given;
    given.original = value;
    if (!value.isValid() || value.isNull()) {
        given.what = Given::What::Empty;
        return given;
    }
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        given.what = Given::What::Bool;
        given.flag = value.toBool();
        break;
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
        given.what = Given::What::Whole;
        given.whole = value.toLongLong();
        break;
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong u = value.toULongLong();
        if (u > qulonglong(std::numeric_limits<qlonglong>::max())) {
            given.what = Given::What::Number;
            given.number = double(u);
        } else {
            given.what = Given::What::Whole;
            given.whole = qlonglong(u);
        }
        break;
    }
    case QMetaType::Float:
    case QMetaType::Double:
        given.what = Given::What::Number;
        given.number = value.toDouble();
        break;
    case QMetaType::QDate:
        given.what = Given::What::Date;
        break;
    case QMetaType::QTime:
        given.what = Given::What::Time;
        break;
    case QMetaType::QDateTime:
        given.what = Given::What::DateTime;
        break;
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::QChar:
        given.what = Given::What::Text;
        given.text = value.toString();
        break;
    default:
        if (value.canConvert<QString>()) {
            given.what = Given::What::Text;
            given.text = value.toString();
        }
        break;
    }
    return given;
}

[[noreturn]] void refuse(const QString& fieldName, const QString& rule, const QVariant& value)
{
    QString shown = visibleText(value.toString());
    if (shown.size() > 40)
        shown = shown.left(40) + QStringLiteral("…");
    throw StoreError(QStringLiteral("字段“%1”不能写入“%2”：%3。没有写入任何内容。").arg(fieldName, shown, rule));
}

// Whole numbers, from numbers or from text such as "12" or "12.0".
std::optional<qlonglong> asWhole(const Given& given)
{
    switch (given.what) {
    case Given::What::Whole:
        return given.whole;
    case Given::What::Number:
        return wholeNumber(given.number);
    case Given::What::Text: {
        bool ok = false;
        const qlonglong whole = given.text.toLongLong(&ok);
        if (ok)
            return whole;
        const double number = given.text.toDouble(&ok);
        return ok ? wholeNumber(number) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<double> asNumber(const Given& given)
{
    switch (given.what) {
    case Given::What::Whole:
        return double(given.whole);
    case Given::What::Number:
        return std::isfinite(given.number) ? std::optional<double>(given.number) : std::nullopt;
    case Given::What::Text: {
        bool ok = false;
        const double number = given.text.toDouble(&ok);
        return ok && std::isfinite(number) ? std::optional<double>(number) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<bool> asYesNo(const Given& given)
{
    if (given.what == Given::What::Bool)
        return given.flag;
    if (given.what == Given::What::Text) {
        if (given.text.compare(u"true", Qt::CaseInsensitive) == 0)
            return true;
        if (given.text.compare(u"false", Qt::CaseInsensitive) == 0)
            return false;
    }
    if (given.what == Given::What::Text || given.what == Given::What::Whole || given.what == Given::What::Number) {
        const std::optional<qlonglong> whole = asWhole(given);
        // -1 is how the original engine stored True; 1 is what is stored here.
        if (whole && (*whole == 0 || *whole == 1 || *whole == -1))
            return *whole != 0;
    }
    return std::nullopt;
}

std::optional<QString> asDate(const Given& given)
{
    if (given.what == Given::What::Date || given.what == Given::What::DateTime) {
        const QDate date = given.what == Given::What::Date ? given.original.toDate() : given.original.toDateTime().date();
        if (!date.isValid() || date.year() < 1 || date.year() > 9999)
            return std::nullopt;
        return date.toString(QStringLiteral("yyyy-MM-dd"));
    }
    if (given.what != Given::What::Text)
        return std::nullopt;
    return horavo::isStoredDate(given.text) ? std::optional<QString>(given.text) : std::nullopt;
}

std::optional<QString> asTime(const Given& given)
{
    if (given.what == Given::What::Time || given.what == Given::What::DateTime) {
        const QTime time = given.what == Given::What::Time ? given.original.toTime() : given.original.toDateTime().time();
        if (!time.isValid())
            return std::nullopt;
        return time.toString(QStringLiteral("HH:mm:ss"));
    }
    if (given.what != Given::What::Text)
        return std::nullopt;
    return horavo::isStoredTime(given.text) ? std::optional<QString>(given.text) : std::nullopt;
}

QString asText(const Given& given)
{
    switch (given.what) {
    case Given::What::Whole:
        return QString::number(given.whole);
    case Given::What::Number:
        return numberText(given.number);
    case Given::What::Date:
        return given.original.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    case Given::What::Time:
        return given.original.toTime().toString(QStringLiteral("HH:mm:ss"));
    case Given::What::DateTime:
        return given.original.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    default:
        return given.what == Given::What::Text ? given.text : given.original.toString();
    }
}

} // namespace

OwnedCell OwnedCell::from(const Cell& cell)
{
    OwnedCell owned;
    owned.type = cell.type;
    owned.integer = cell.integer;
    owned.real = cell.real;
    owned.bytes.assign(cell.bytes.data(), cell.bytes.size());
    return owned;
}

Cell OwnedCell::view() const
{
    Cell cell;
    cell.type = type;
    cell.integer = integer;
    cell.real = real;
    cell.bytes = bytes;
    return cell;
}

QVariant toVariant(const Cell& cell, FieldType type)
{
    switch (cell.type) {
    case Cell::Type::Null:
        return {};
    case Cell::Type::Blob:
        return QByteArray(cell.bytes.data(), qsizetype(cell.bytes.size()));
    case Cell::Type::Text:
        return textOf(cell);
    case Cell::Type::Integer:
    case Cell::Type::Real:
        break;
    }
    const bool integer = cell.type == Cell::Type::Integer;
    if (!type.known)
        return integer ? QVariant(qlonglong(cell.integer)) : QVariant(cell.real);
    switch (type.kind) {
    case ColumnKind::YesNo:
        return integer ? cell.integer != 0 : cell.real != 0;
    case ColumnKind::Integer16:
    case ColumnKind::Integer:
        if (integer)
            return qlonglong(cell.integer);
        if (const auto whole = wholeNumber(cell.real))
            return *whole;
        return cell.real;
    case ColumnKind::Real:
        return integer ? double(cell.integer) : cell.real;
    case ColumnKind::Text:
    case ColumnKind::UserName:
    case ColumnKind::Date:
    case ColumnKind::Time:
        return integer ? QString::number(cell.integer) : numberText(cell.real);
    }
    return {};
}

OwnedCell toStored(const QVariant& value, ColumnKind kind, const QString& fieldName)
{
    Given given = classify(value);
    if (kind == ColumnKind::Text || kind == ColumnKind::UserName) {
        if (given.what == Given::What::Empty)
            return nullCell();
        const QString text = asText(given);
        if (kind == ColumnKind::UserName && !isAllowedUserName(text))
            refuse(fieldName, QStringLiteral("用户名不能含有控制字符或格式字符（例如换行、Esc、零宽空格、文字方向控制符），"
                                             "这样的字符看不见，却会改变名字的样子或终端的显示"),
                   value);
        return textCell(text);
    }
    given.text = given.text.trimmed();
    if (given.what == Given::What::Empty || (given.what == Given::What::Text && given.text.isEmpty()))
        return nullCell();

    switch (kind) {
    case ColumnKind::Integer16: {
        const auto whole = asWhole(given);
        if (!whole || *whole < -32768 || *whole > 32767)
            refuse(fieldName, QStringLiteral("须是 -32768 到 32767 之间的整数"), value);
        return integerCell(*whole);
    }
    case ColumnKind::Integer: {
        const auto whole = asWhole(given);
        if (!whole)
            refuse(fieldName, QStringLiteral("须是整数"), value);
        return integerCell(*whole);
    }
    case ColumnKind::Real: {
        const auto number = asNumber(given);
        if (!number)
            refuse(fieldName, QStringLiteral("须是数字"), value);
        // Amounts are worked out in single precision: a price beyond it would give
        // infinite amounts (and its conversion is undefined).
        if (!std::isfinite(*number) || std::fabs(*number) > double(std::numeric_limits<float>::max()))
            refuse(fieldName, QStringLiteral("须是单精度范围内的有限数字（绝对值不超过 3.402823E+38）"), value);
        return realCell(*number);
    }
    case ColumnKind::YesNo: {
        const auto flag = asYesNo(given);
        if (!flag)
            refuse(fieldName, QStringLiteral("须是“是/否”：true、false、1、0 或 -1"), value);
        return integerCell(*flag ? 1 : 0);
    }
    case ColumnKind::Date: {
        const auto date = asDate(given);
        if (!date)
            refuse(fieldName, QStringLiteral("须是“YYYY-MM-DD”格式的有效日期"), value);
        return textCell(*date);
    }
    case ColumnKind::Time: {
        const auto time = asTime(given);
        if (!time)
            refuse(fieldName, QStringLiteral("须是“HH:MM:SS”格式的有效时刻（00:00:00 到 23:59:59）"), value);
        return textCell(*time);
    }
    case ColumnKind::Text:
    case ColumnKind::UserName:
        break;
    }
    return textCell(asText(given));
}

} // namespace store::detail
