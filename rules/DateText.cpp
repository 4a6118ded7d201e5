#include "rules/DateText.h"

#include <initializer_list>
#include <type_traits>

#include <QDate>
#include <QTime>

namespace horavo {

namespace {

// Both forms are ASCII, so text stored as UTF-8 bytes and text as UTF-16 read alike.
template <typename Text>
int codeAt(const Text& text, qsizetype i)
{
    if constexpr (std::is_same_v<Text, QStringView>)
        return text[i].unicode();
    else
        return static_cast<unsigned char>(text[i]);
}

template <typename Text>
bool asciiDigitsAt(const Text& text, std::initializer_list<int> positions)
{
    for (int i : positions) {
        if (codeAt(text, i) < '0' || codeAt(text, i) > '9')
            return false;
    }
    return true;
}

// The number that the ASCII digits text[from] .. text[from + count - 1] write.
template <typename Text>
int numberAt(const Text& text, int from, int count)
{
    int value = 0;
    for (int i = from; i < from + count; ++i)
        value = value * 10 + (codeAt(text, i) - '0');
    return value;
}

template <typename Text>
bool isDate(const Text& text)
{
    if (text.size() != 10 || codeAt(text, 4) != '-' || codeAt(text, 7) != '-'
        || !asciiDigitsAt(text, {0, 1, 2, 3, 5, 6, 8, 9}))
        return false;
    // QDate has no year 0, so 0000 is no year here either.
    return QDate(numberAt(text, 0, 4), numberAt(text, 5, 2), numberAt(text, 8, 2)).isValid();
}

template <typename Text>
bool isTime(const Text& text)
{
    if (text.size() != 8 || codeAt(text, 2) != ':' || codeAt(text, 5) != ':'
        || !asciiDigitsAt(text, {0, 1, 3, 4, 6, 7}))
        return false;
    return QTime(numberAt(text, 0, 2), numberAt(text, 3, 2), numberAt(text, 6, 2)).isValid();
}

} // namespace

bool isStoredDate(QStringView text) { return isDate(text); }
bool isStoredDate(std::string_view bytes) { return isDate(bytes); }
bool isStoredTime(QStringView text) { return isTime(text); }
bool isStoredTime(std::string_view bytes) { return isTime(bytes); }

} // namespace horavo
