#include "store/ServerValues.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

#include <libpq-fe.h>

#include "store/StoreError.h"

namespace store::detail {

namespace {

// The server's type numbers of the values a record set reads as numbers.
enum ServerType : Oid {
    kBool = 16,
    kBytea = 17,
    kInt8 = 20,
    kInt2 = 21,
    kInt4 = 23,
    kOid = 26,
    kFloat4 = 700,
    kFloat8 = 701,
    kNumeric = 1700,
};

std::optional<std::int64_t> wholeNumberText(std::string_view text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

double realNumber(std::string_view text)
{
    // The server writes the infinities and NaN as words; from_chars takes them too, but
    // not a leading '+' (never written).
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range)
        return std::strtod(std::string(text).c_str(), nullptr);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nan("");
    return value;
}

} // namespace

Cell serverCell(const PGresult* result, int row, int column, unsigned int type, std::string& scratch)
{
    if (PQgetisnull(result, row, column))
        return Cell::null();
    const char* value = PQgetvalue(result, row, column);
    const std::string_view text(value, std::size_t(PQgetlength(result, row, column)));
    switch (type) {
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid:
        if (const auto whole = wholeNumberText(text))
            return Cell::ofInteger(*whole);
        return Cell::ofText(text);
    case kBool:
        return Cell::ofInteger(text == "t" ? 1 : 0);
    case kFloat4:
    case kFloat8:
        return Cell::ofReal(realNumber(text));
    case kNumeric:
        // A sum of whole numbers comes back as numeric: whole where it fits.
        if (text.find_first_of(".eEN") == std::string_view::npos) {
            if (const auto whole = wholeNumberText(text))
                return Cell::ofInteger(*whole);
        }
        return Cell::ofReal(realNumber(text));
    case kBytea: {
        std::size_t size = 0;
        unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(value), &size);
        scratch.assign(reinterpret_cast<const char*>(bytes), size);
        PQfreemem(bytes);
        return Cell::ofBlob(scratch);
    }
    default:
        return Cell::ofText(text);
    }
}

std::vector<OwnedCell> ownedRow(const PGresult* result, int row)
{
    std::vector<OwnedCell> cells;
    std::string scratch;
    for (int c = 0; c < PQnfields(result); ++c)
        cells.push_back(OwnedCell::from(serverCell(result, row, c, PQftype(result, c), scratch)));
    return cells;
}

namespace {

// A number as the server reads it back exactly.
std::string numberText(const Cell& cell)
{
    if (cell.type == Cell::Type::Integer)
        return std::to_string(cell.integer);
    if (std::isnan(cell.real))
        return "NaN";
    if (std::isinf(cell.real))
        return cell.real > 0 ? "Infinity" : "-Infinity";
    char buffer[32];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, cell.real);
    return std::string(buffer, end);
}

void refuseZeroByte(std::string_view text)
{
    if (text.find('\0') != std::string_view::npos)
        throw StoreError(QStringLiteral("数据库服务器上的文本不能含有空字符（U+0000）"));
}

} // namespace

void appendCopyField(std::string& line, const Cell& cell)
{
    switch (cell.type) {
    case Cell::Type::Null:
        line += "\\N";
        return;
    case Cell::Type::Integer:
    case Cell::Type::Real:
        line += numberText(cell);
        return;
    case Cell::Type::Text:
    case Cell::Type::Blob: // into a text column, as its bytes
        refuseZeroByte(cell.bytes);
        for (const char c : cell.bytes) {
            switch (c) {
            case '\\': line += "\\\\"; break;
            case '\t': line += "\\t"; break;
            case '\n': line += "\\n"; break;
            case '\r': line += "\\r"; break;
            default: line += c;
            }
        }
        return;
    }
}

ServerParameters::ServerParameters(const std::vector<Cell>& cells)
{
    texts_.reserve(cells.size());
    for (const Cell& cell : cells)
        add(cell);
    for (std::size_t i = 0; i < cells.size(); ++i)
        values_.push_back(isNull_[i] ? nullptr : texts_[i].c_str());
}

void ServerParameters::add(const Cell& cell)
{
    std::string text;
    int format = 0;
    switch (cell.type) {
    case Cell::Type::Null:
        break;
    case Cell::Type::Integer:
    case Cell::Type::Real:
        text = numberText(cell);
        break;
    case Cell::Type::Text:
        refuseZeroByte(cell.bytes);
        text.assign(cell.bytes);
        break;
    case Cell::Type::Blob:
        text.assign(cell.bytes);
        format = 1;
        break;
    }
    isNull_.push_back(cell.type == Cell::Type::Null);
    lengths_.push_back(int(text.size()));
    formats_.push_back(format);
    texts_.push_back(std::move(text));
}

} // namespace store::detail
