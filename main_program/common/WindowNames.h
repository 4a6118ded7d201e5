#pragma once

#include <QString>

namespace tallyon::windows {

// The windows of Tallyon, by the names under which the program loads and shows them.
inline const QString login = QStringLiteral("Form1");
inline const QString history = QStringLiteral("form2");
inline const QString timer = QStringLiteral("Form3");
inline const QString administration = QStringLiteral("Form4");
inline const QString records = QStringLiteral("Form5");

// The application title that message boxes carry when they name none.
inline const QString applicationTitle = QStringLiteral("Pomerix");

} // namespace tallyon::windows
