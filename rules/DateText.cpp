#include "rules/DateText.h"

#include <initializer_list>

#include <QDate>
#include <QTime>

namespace horavo {

namespace {

bool asciiDigitsAt(QStringView text, std::initializer_list<int> positions)
{
    for (int i : positions) {
        if (text[i] < u'0' || text[i] > u'9')
            return false;
    }
    return true;
}

// The number that the ASCII digits text[from] .. text[from + count - 1] write.
int numberAt(QStringView text, int from, int count)
{
    int value = 0;
    for (int i = from; i < from + count; ++i)
        value = value * 10 + (text[i].unicode() - u'0');
    return value;
}

} // namespace

bool isStoredDate(QStringView text)
{
    if (text.size() != 10 || text[4] != u'-' || text[7] != u'-' || !asciiDigitsAt(text, {0, 1, 2, 3, 5, 6, 8, 9}))
        return false;
    // QDate has no year 0, so 0000 is no year here either.
    return QDate(numberAt(text, 0, 4), numberAt(text, 5, 2), numberAt(text, 8, 2)).isValid();
}

bool isStoredTime(QStringView text)
{
    if (text.size() != 8 || text[2] != u':' || text[5] != u':' || !asciiDigitsAt(text, {0, 1, 3, 4, 6, 7}))
        return false;
    return QTime(numberAt(text, 0, 2), numberAt(text, 3, 2), numberAt(text, 6, 2)).isValid();
}

} // namespace horavo
