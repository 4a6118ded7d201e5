#pragma once

#include <QString>

namespace store {

// Typed text that goes between single quotes in a statement: every single quote is
// doubled, so the text stays one literal whatever it holds.
QString escapeQuotes(const QString& text);

} // namespace store
