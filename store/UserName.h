#pragma once

#include <QString>

namespace store {

// Control characters (Unicode category Cc: C0, DEL, C1) and format characters (Cf: the
// soft hyphen, zero-width spaces and joiners, direction marks, embeddings, overrides and
// isolates, the word joiner, the byte-order mark, tag characters...). Shown nowhere, they
// act on the terminal or on the text around them.
bool isControlOrFormat(char32_t c);

// A user name may not contain control or format characters: "admin" followed by a
// zero-width space would look like "admin" in every list, and an escape sequence would
// act on the terminal of whoever lists the users.
bool isAllowedUserName(const QString& name);

// The text with every control or format character written as an escape (\x1b for those
// up to U+00FF, \u200b, \U000e0001) and every backslash doubled, so that what it holds
// can be seen and told apart from what it looks like.
QString visibleText(const QString& text);

} // namespace store
