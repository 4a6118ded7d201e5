#include "store/AddressMask.h"

#include <libpq-fe.h>

namespace store {

namespace {

struct Span {
    qsizetype from = 0; // the first byte
    qsizetype to = 0;   // past the last
};

const QByteArray kHidden = QByteArrayLiteral("***");

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool isKeywordByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool isPasswordKeyword(const QByteArray& keyword)
{
    const QByteArray lower = keyword.toLower();
    return lower == "password" || lower == "sslpassword";
}

// The end of a keyword at i followed by "=" (blanks allowed around it in key=value): the
// index after the "=", or -1.
qsizetype afterKeyword(const QByteArray& text, qsizetype i, bool blanks)
{
    qsizetype end = i;
    while (end < text.size() && isKeywordByte(text[end]))
        ++end;
    if (end == i)
        return -1;
    while (blanks && end < text.size() && isBlank(text[end]))
        ++end;
    return end < text.size() && text[end] == '=' ? end + 1 : -1;
}

// key=value: each password's value from its first byte up to the next " keyword=" (or the
// end), blanks at its end left out. A well-formed value ends there anyway; a malformed one
// (a blank not quoted, a quote not closed) is what libpq cuts short or runs on with.
std::vector<Span> keyValuePasswords(const QByteArray& text)
{
    std::vector<Span> found;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i > 0 && !isBlank(text[i - 1]))
            continue;
        qsizetype value = afterKeyword(text, i, true);
        if (value < 0)
            continue;
        const QByteArray keyword = text.mid(i, value - i - 1).trimmed();
        if (!isPasswordKeyword(keyword))
            continue;
        while (value < text.size() && isBlank(text[value]))
            ++value;
        qsizetype end = value;
        if (end < text.size() && text[end] == '\'') {
            for (++end; end < text.size() && text[end] != '\''; ++end) {
                if (text[end] == '\\')
                    ++end;
            }
            end = qMin(end + 1, text.size());
        }
        for (; end < text.size(); ++end) {
            if (isBlank(text[end])) {
                qsizetype next = end;
                while (next < text.size() && isBlank(text[next]))
                    ++next;
                if (next == text.size() || afterKeyword(text, next, true) >= 0)
                    break;
            }
        }
        if (end > value)
            found.push_back({value, end});
    }
    return found;
}

// A URI: the password of user:password@, from the first ":" after the scheme to the last
// "@" before the query, and the values of ?password= and &sslpassword=, each up to the
// next "&keyword=" (or the end). The query begins at the first "?" after which an "=" comes
// before any "@": a "?" in a password that is not percent-encoded does not begin it.
std::vector<Span> uriPasswords(const QByteArray& text, qsizetype start)
{
    std::vector<Span> found;
    qsizetype query = text.size();
    for (qsizetype i = start; i < text.size(); ++i) {
        if (text[i] != '?')
            continue;
        qsizetype next = i + 1;
        while (next < text.size() && text[next] != '=' && text[next] != '@')
            ++next;
        if (next == text.size() || text[next] == '=') {
            query = i;
            break;
        }
    }
    const qsizetype at = text.lastIndexOf('@', query - 1);
    if (at >= start) {
        const qsizetype colon = text.indexOf(':', start);
        if (colon >= 0 && colon < at)
            found.push_back({colon + 1, at});
    }
    for (qsizetype i = query + 1; i < text.size(); ++i) {
        if (text[i - 1] != '?' && text[i - 1] != '&')
            continue;
        const qsizetype value = afterKeyword(text, i, false);
        if (value < 0 || !isPasswordKeyword(text.mid(i, value - i - 1)))
            continue;
        qsizetype end = value;
        while (end < text.size() && !(text[end] == '&' && afterKeyword(text, end + 1, false) >= 0))
            ++end;
        found.push_back({value, end});
    }
    return found;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The bytes that stand for others in the address: "%41" for "A" in a URI; in key=value a
// backslash for the byte after it, and a quote for nothing.
struct Escape {
    qsizetype length = 1; // bytes of the address it takes
    int byte = -1;        // what it stands for; -1: nothing
};

Escape escapeAt(const QByteArray& text, qsizetype i, bool uri)
{
    if (uri) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0)
            return {3, hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])};
        return {1, static_cast<unsigned char>(text[i])};
    }
    if (text[i] == '\\' && i + 1 < text.size())
        return {2, static_cast<unsigned char>(text[i + 1])};
    if (text[i] == '\'')
        return {1, -1};
    return {1, static_cast<unsigned char>(text[i])};
}

// Each run of marked bytes as ***.
QByteArray hiding(const QByteArray& text, const std::vector<bool>& marks)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!marks[std::size_t(i)])
            out += text[i];
        else if (i == 0 || !marks[std::size_t(i - 1)])
            out += kHidden;
    }
    return out;
}

} // namespace

AddressMask::AddressMask(const QString& conninfo)
{
    const QByteArray text = conninfo.toUtf8();
    const bool uri = text.startsWith("postgresql://") || text.startsWith("postgres://");
    const std::vector<Span> passwords = uri ? uriPasswords(text, text.indexOf("://") + 3) : keyValuePasswords(text);

    View written{text, std::vector<bool>(std::size_t(text.size()), false)};
    for (const Span& span : passwords) {
        for (qsizetype i = span.from; i < span.to; ++i)
            written.secret[std::size_t(i)] = true;
        secrets_.push_back(text.mid(span.from, span.to - span.from));
    }
    View read;
    for (qsizetype i = 0; i < text.size();) {
        const Escape escape = escapeAt(text, i, uri);
        if (escape.byte >= 0) {
            read.text += char(escape.byte);
            read.secret.push_back(written.secret[std::size_t(i)]);
        }
        i += escape.length;
    }
    for (const Span& span : passwords) {
        QByteArray unescaped;
        for (qsizetype i = span.from; i < span.to;) {
            const Escape escape = escapeAt(text, i, uri);
            if (escape.byte >= 0)
                unescaped += char(escape.byte);
            i += escape.length;
        }
        secrets_.push_back(unescaped);
    }
    views_ = {written, read};

    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(text.constData(), &error);
    PQfreemem(error);
    if (!options) {
        QByteArray hidden = hiding(text, written.secret);
        std::vector<bool> marks(std::size_t(hidden.size()), false);
        markSecrets(hidden, marks);
        shown_ = QString::fromUtf8(hiding(hidden, marks));
        return;
    }
    for (PQconninfoOption* option = options; option->keyword; ++option) {
        if (option->val && *option->val && isPasswordKeyword(option->keyword))
            secrets_.emplace_back(option->val);
    }
    QByteArray parts;
    for (PQconninfoOption* option = options; option->keyword; ++option) {
        if (!option->val || !*option->val || isPasswordKeyword(option->keyword))
            continue;
        const QByteArray value(option->val);
        std::vector<bool> marks(std::size_t(value.size()), false);
        markPiece(value, marks, 0);
        markSecrets(value, marks);
        if (!parts.isEmpty())
            parts += ' ';
        parts += QByteArray(option->keyword) + '=' + hiding(value, marks);
    }
    PQconninfoFree(options);
    shown_ = QString::fromUtf8(parts);
}

void AddressMask::markPiece(const QByteArray& piece, std::vector<bool>& marks, qsizetype offset) const
{
    const View* where = nullptr;
    qsizetype at = -1;
    for (const View& view : views_) {
        for (qsizetype found = view.text.indexOf(piece); found >= 0; found = view.text.indexOf(piece, found + 1)) {
            bool secret = false;
            for (qsizetype k = 0; k < piece.size(); ++k)
                secret = secret || view.secret[std::size_t(found + k)];
            if (!secret)
                return; // it is in the address clear of every password: showing it shows nothing
            if (!where) {
                where = &view;
                at = found;
            }
        }
    }
    if (!where)
        return;
    for (qsizetype k = 0; k < piece.size(); ++k) {
        if (where->secret[std::size_t(at + k)])
            marks[std::size_t(offset + k)] = true;
    }
}

void AddressMask::markSecrets(const QByteArray& text, std::vector<bool>& marks) const
{
    for (const QByteArray& secret : secrets_) {
        if (secret.isEmpty())
            continue;
        for (qsizetype found = text.indexOf(secret); found >= 0; found = text.indexOf(secret, found + 1)) {
            for (qsizetype k = 0; k < secret.size(); ++k)
                marks[std::size_t(found + k)] = true;
        }
    }
}

QString AddressMask::masked(const QString& message) const
{
    const QByteArray text = message.toUtf8();
    std::vector<bool> marks(std::size_t(text.size()), false);
    // libpq quotes what it read: the address, a value, a keyword. A quoted piece may hold
    // quotes itself (the address may), so every pair of quotes is tried.
    std::vector<qsizetype> quotes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '"')
            quotes.push_back(i);
    }
    for (std::size_t a = 0; a < quotes.size(); ++a) {
        for (std::size_t b = a + 1; b < quotes.size(); ++b) {
            if (quotes[b] > quotes[a] + 1)
                markPiece(text.mid(quotes[a] + 1, quotes[b] - quotes[a] - 1), marks, quotes[a] + 1);
        }
    }
    markSecrets(text, marks);
    return QString::fromUtf8(hiding(text, marks));
}

} // namespace store
