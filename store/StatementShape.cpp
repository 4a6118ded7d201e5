#include "store/StatementShape.h"

#include <array>
#include <cctype>
#include <string_view>

namespace store::detail {

namespace {

enum class TokenKind { Word, Literal, QuotedName, OpenParen, CloseParen, Comma, Semicolon, Other, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string_view text;
    qsizetype end = 0;
};

class Tokenizer {
public:
    explicit Tokenizer(const QByteArray& sql) : s_(sql.constData(), std::size_t(sql.size())) {}

    Token next()
    {
        skipSpaceAndComments();
        if (pos_ >= s_.size())
            return {TokenKind::End, {}, qsizetype(pos_)};
        const std::size_t start = pos_;
        const unsigned char c = static_cast<unsigned char>(s_[pos_]);
        TokenKind kind = TokenKind::Other;
        if (c == '\'') {
            skipQuoted('\'');
            kind = TokenKind::Literal;
        } else if (c == '"' || c == '`') {
            skipQuoted(char(c));
            kind = TokenKind::QuotedName;
        } else if (c == '[') {
            const std::size_t close = s_.find(']', pos_);
            pos_ = close == std::string_view::npos ? s_.size() : close + 1;
            kind = TokenKind::QuotedName;
        } else if (isWordByte(c)) {
            while (pos_ < s_.size() && isWordByte(static_cast<unsigned char>(s_[pos_])))
                ++pos_;
            kind = TokenKind::Word;
        } else {
            ++pos_;
            kind = c == '(' ? TokenKind::OpenParen
                : c == ')'  ? TokenKind::CloseParen
                : c == ','  ? TokenKind::Comma
                : c == ';'  ? TokenKind::Semicolon
                            : TokenKind::Other;
        }
        return {kind, s_.substr(start, pos_ - start), qsizetype(pos_)};
    }

private:
    static bool isWordByte(unsigned char c) { return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80; }

    void skipQuoted(char quote)
    {
        ++pos_;
        while (pos_ < s_.size()) {
            if (s_[pos_] == quote) {
                if (pos_ + 1 < s_.size() && s_[pos_ + 1] == quote) {
                    pos_ += 2;
                    continue;
                }
                ++pos_;
                return;
            }
            ++pos_;
        }
    }

    void skipSpaceAndComments()
    {
        while (pos_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[pos_]);
            if (std::isspace(c)) {
                ++pos_;
            } else if (s_.substr(pos_, 2) == "--") {
                const std::size_t eol = s_.find('\n', pos_);
                pos_ = eol == std::string_view::npos ? s_.size() : eol + 1;
            } else if (s_.substr(pos_, 2) == "/*") {
                const std::size_t close = s_.find("*/", pos_ + 2);
                pos_ = close == std::string_view::npos ? s_.size() : close + 2;
            } else {
                return;
            }
        }
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

bool is(const Token& token, std::string_view keyword)
{
    if (token.kind != TokenKind::Word || token.text.size() != keyword.size())
        return false;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(token.text[i])) != keyword[i])
            return false;
    }
    return true;
}

template <std::size_t N>
bool isAny(const Token& token, const std::array<std::string_view, N>& keywords)
{
    for (std::string_view keyword : keywords) {
        if (is(token, keyword))
            return true;
    }
    return false;
}

constexpr std::array<std::string_view, 9> kRowMergingWords{
    "distinct", "group", "having", "union", "intersect", "except", "join", "window", "values"};
constexpr std::array<std::string_view, 8> kAggregates{
    "count", "sum", "total", "avg", "min", "max", "group_concat", "string_agg"};
constexpr std::array<std::string_view, 6> kClausesAfterFrom{"where", "group", "having", "window", "order", "limit"};

} // namespace

StatementShape analyseStatement(const QByteArray& sql)
{
    StatementShape shape;
    Tokenizer tokens(sql);
    Token token = tokens.next();
    if (!is(token, "select"))
        return shape;
    shape.afterSelect = token.end;
    shape.rowsAreTableRows = true;

    Token previous = token;
    token = tokens.next();
    if (is(token, "all"))
        shape.afterSelect = token.end;

    int depth = 0;
    bool inFrom = false;
    bool justAfterFrom = false;
    for (; token.kind != TokenKind::End && token.kind != TokenKind::Semicolon; previous = token, token = tokens.next()) {
        const bool first = justAfterFrom;
        justAfterFrom = false;
        if (token.kind == TokenKind::OpenParen) {
            if (depth == 0 && (isAny(previous, kAggregates) || (inFrom && first)))
                shape.rowsAreTableRows = false;
            ++depth;
            continue;
        }
        if (token.kind == TokenKind::CloseParen) {
            depth = depth > 0 ? depth - 1 : 0;
            continue;
        }
        if (depth > 0)
            continue;
        if (isAny(token, kRowMergingWords))
            shape.rowsAreTableRows = false;
        if (is(token, "from")) {
            inFrom = true;
            justAfterFrom = true;
        } else if (isAny(token, kClausesAfterFrom)) {
            inFrom = false;
        } else if (inFrom && token.kind == TokenKind::Comma) {
            shape.rowsAreTableRows = false;
        }
    }
    return shape;
}

} // namespace store::detail
