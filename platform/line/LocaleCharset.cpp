#include "platform/line/LocaleCharset.h"

#include <langinfo.h>

namespace platform {

QByteArray localeCharsetName()
{
    const QByteArray name(nl_langinfo(CODESET));
    if (name.isEmpty() || name == "ANSI_X3.4-1968" || name.compare("ASCII", Qt::CaseInsensitive) == 0
        || name.compare("US-ASCII", Qt::CaseInsensitive) == 0)
        return QByteArrayLiteral("UTF-8");
    return name;
}

QStringDecoder decoderFor(const QByteArray& charsetName)
{
    QStringDecoder decoder(charsetName.constData());
    if (!decoder.isValid())
        return QStringDecoder(QStringConverter::Utf8);
    return decoder;
}

QStringEncoder encoderFor(const QByteArray& charsetName)
{
    QStringEncoder encoder(charsetName.constData());
    if (!encoder.isValid())
        return QStringEncoder(QStringConverter::Utf8);
    return encoder;
}

void writeLine(std::FILE* stream, const QString& line)
{
    QStringEncoder encoder = localeEncoder();
    const QByteArray bytes = encoder.encode(line + QLatin1Char('\n'));
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

QStringList localeArguments(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        QStringDecoder decoder = localeDecoder();
        arguments << decoder.decode(QByteArrayView(argv[i]));
    }
    return arguments;
}

} // namespace platform
