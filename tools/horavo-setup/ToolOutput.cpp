#include "tools/horavo-setup/ToolOutput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "store/UserName.h"
#include "tools/horavo-setup/DatabaseChoice.h"
#include "tools/horavo-setup/ProgressLine.h"

namespace setup {

void say(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = (text + QLatin1Char('\n')).toLocal8Bit();
    put(stream, bytes);
}

void put(std::FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

void refuse(ExitCode code, const QString& message)
{
    ProgressLine::finishShown();
    say(stderr, QStringLiteral("horavo-setup：") + message);
    throw Refusal{code};
}

QString shownPath(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

std::unique_ptr<store::ReadOnlyDatabase> openForReading(const store::DatabaseAddress& address, ExitCode missing,
                                                        ExitCode failure)
{
    std::unique_ptr<store::ReadOnlyDatabase> database;
    QStringList tables;
    try {
        database = store::ReadOnlyDatabase::open(address);
        tables = database->systemTables();
    } catch (const store::MissingDatabaseError& error) {
        refuse(missing, error.message());
    } catch (const store::StoreError& error) {
        refuse(failure, error.message());
    }
    if (tables.size() == 3)
        return database;
    if (!address.isServer())
        refuse(failure, QStringLiteral("“%1”不是这个系统的数据库文件：缺少 users、internet 或 knumber 表").arg(shownPath(address.text())));
    if (tables.isEmpty())
        refuse(missing, QStringLiteral("%1里没有这个系统的表 users、internet、knumber；新建请用 create").arg(named(address)));
    refuse(failure, QStringLiteral("%1只有表 %2，不是这个系统的完整数据库").arg(named(address), tables.join(QStringLiteral("、"))));
}

QString shownText(const QString& stored)
{
    return store::visibleText(stored);
}

QString csvTextCell(const QString& stored)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    const QString shown = shownText(stored);
    if (!stored.isEmpty() && formulaStarts.contains(stored.front()))
        return QLatin1Char('\'') + shown;
    return shown;
}

QByteArray escapedJson(const QByteArray& json)
{
    const QString text = QString::fromUtf8(json);
    QString escaped;
    escaped.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const char32_t c = pair ? QChar::surrogateToUcs4(text[i], text[i + 1]) : text[i].unicode();
        const qsizetype units = pair ? 2 : 1;
        // Outside strings there are only the line ends of the layout; inside them the
        // writer has escaped every character below U+0020 already.
        if (c != u'\n' && store::isControlOrFormat(c)) {
            for (qsizetype u = 0; u < units; ++u)
                escaped += QStringLiteral("\\u%1").arg(text[i + u].unicode(), 4, 16, QLatin1Char('0'));
        } else {
            escaped += text.mid(i, units);
        }
        i += units - 1;
    }
    return escaped.toUtf8();
}

namespace {

bool wide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF)
        || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF)
        || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F)
        || (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F)
        || (c >= 0x20000 && c <= 0x3FFFD);
}

} // namespace

int displayWidth(const QString& text)
{
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += wide(c) ? 2 : 1;
    return width;
}

QString padded(const QString& text, int width, bool alignRight)
{
    const QString fill(qMax(0, width - displayWidth(text)), QLatin1Char(' '));
    return alignRight ? fill + text : text + fill;
}

} // namespace setup
