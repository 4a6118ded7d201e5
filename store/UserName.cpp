#include "store/UserName.h"

#include <QChar>
#include <QList>

namespace store {

bool isControlOrFormat(char32_t c)
{
    const QChar::Category category = QChar::category(c);
    return category == QChar::Other_Control || category == QChar::Other_Format;
}

bool isAllowedUserName(const QString& name)
{
    for (const char32_t c : name.toUcs4()) {
        if (isControlOrFormat(c))
            return false;
    }
    return true;
}

QString visibleText(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (c == u'\\')
            shown += QStringLiteral("\\\\");
        else if (!isControlOrFormat(c))
            shown += QString::fromUcs4(&c, 1);
        else if (c <= 0xFF)
            shown += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        else if (c <= 0xFFFF)
            shown += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        else
            shown += QStringLiteral("\\U%1").arg(uint(c), 8, 16, QLatin1Char('0'));
    }
    return shown;
}

} // namespace store
