#include "store/SqlText.h"

namespace store {

QString escapeQuotes(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\''), QStringLiteral("''"));
    return escaped;
}

} // namespace store
