#pragma once

#include <QUrl>

namespace tallyon::publisher {

// The publisher's pages that the windows' link labels open.
inline QUrl homePage()
{
    return QUrl(QStringLiteral("https://horavo.example.org/"));
}

inline QUrl forumPage()
{
    return QUrl(QStringLiteral("https://horavo.example.org/forum/"));
}

} // namespace tallyon::publisher
