#pragma once

#include <cstdio>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringDecoder>
#include <QStringEncoder>

namespace platform {

// The character set of the locale (LC_CTYPE) that the application runs in: UTF-8 on
// most systems, GB18030 or GBK on a Chinese one set up that way. Qt itself takes UTF-8
// for every Unix locale, so consoles in another charset need these.

// The locale's charset name as the C library gives it; "UTF-8" for the plain ASCII of
// the C locale, of which UTF-8 is a superset.
QByteArray localeCharsetName();

// Decoders keep their state between calls, so a character split over two chunks is
// decoded once it is whole. An unknown charset falls back to UTF-8.
QStringDecoder decoderFor(const QByteArray& charsetName);
QStringEncoder encoderFor(const QByteArray& charsetName);
inline QStringDecoder localeDecoder() { return decoderFor(localeCharsetName()); }
inline QStringEncoder localeEncoder() { return encoderFor(localeCharsetName()); }

// A command's arguments (after the program name), decoded from the locale's charset.
QStringList localeArguments(int argc, char** argv);

// Writes one line to a console stream in the locale's charset and flushes it.
void writeLine(std::FILE* stream, const QString& line);

} // namespace platform
