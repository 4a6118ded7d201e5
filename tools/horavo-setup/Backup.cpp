#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <sqlite3.h>

#include "store/Connection.h"
#include "tools/horavo-setup/AdminCommands.h"
#include "tools/horavo-setup/ToolOutput.h"

namespace setup {

namespace {

// Pages copied in one step, and the pause between steps in which the programs write.
constexpr int kFirstStepPages = 256;
constexpr int kPauseMs = 10;

QString engineMessage(sqlite3* db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

// The first column of the first row of sql on db as text.
QByteArray textOf(sqlite3* db, const char* sql)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK)
        return {};
    const store::Statement stmt(raw);
    if (sqlite3_step(raw) != SQLITE_ROW)
        return {};
    return QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)));
}

// Copies source into copy in steps. When writers changed the source between two steps,
// SQLite starts the copy over; each time that happens the step doubles, so that a file
// written to all the time is copied in the end (at worst in one step, which holds the
// source's read lock for as long as the copy takes).
void copyInSteps(sqlite3* source, sqlite3* copy, const QString& path)
{
    sqlite3_backup* b = sqlite3_backup_init(copy, "main", source, "main");
    if (!b)
        refuse(DatabaseFailure, QStringLiteral("不能开始备份“%1”：%2").arg(shownPath(path), engineMessage(copy)));
    int pages = kFirstStepPages;
    int lowestRemaining = -1;
    int rc = SQLITE_OK;
    for (;;) {
        rc = sqlite3_backup_step(b, pages);
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_OK && rc != SQLITE_BUSY && rc != SQLITE_LOCKED)
            break;
        const int remaining = sqlite3_backup_remaining(b);
        if (rc == SQLITE_OK && lowestRemaining >= 0 && remaining > lowestRemaining && pages > 0) {
            // Started over.
            pages = pages >= (1 << 20) ? -1 : pages * 2;
        }
        lowestRemaining = lowestRemaining < 0 ? remaining : qMin(lowestRemaining, remaining);
        sqlite3_sleep(kPauseMs);
    }
    const int finish = sqlite3_backup_finish(b);
    if (rc != SQLITE_DONE || finish != SQLITE_OK)
        refuse(DatabaseFailure, QStringLiteral("备份“%1”失败：%2").arg(shownPath(path), engineMessage(copy)));
}

} // namespace

ExitCode backup(const SetupRequest& request, const QString& path)
{
    const QString target = QFileInfo(request.target).absoluteFilePath();
    if (target == path || (QFileInfo::exists(target) && QFileInfo(target).canonicalFilePath() == QFileInfo(path).canonicalFilePath()))
        refuse(BadCommandLine, QStringLiteral("副本不能就是数据库文件本身“%1”").arg(shownPath(path)));
    const QFileInfo targetInfo(target);
    if (targetInfo.isDir())
        refuse(FileExists, QStringLiteral("“%1”是文件夹，没有改动它").arg(shownPath(target)));
    if ((targetInfo.exists() || targetInfo.isSymLink()) && !request.force)
        refuse(FileExists, QStringLiteral("文件“%1”已经存在，没有改动它；要覆盖请加 --force").arg(shownPath(target)));

    const std::unique_ptr<store::ReadOnlyDatabase> source =
        openForReading(store::DatabaseAddress::file(path), FileMissing, DatabaseFailure);

    // The copy is made beside its place under another name and renamed at the end, so
    // that no half-made copy ever stands under the name, and an old copy stays until
    // the new one is complete.
    QTemporaryFile partial(target + QStringLiteral(".XXXXXX"));
    if (!partial.open())
        refuse(DatabaseFailure, QStringLiteral("不能在文件夹“%1”中建立副本：%2")
                                    .arg(shownPath(targetInfo.absolutePath()), partial.errorString()));
    partial.close();
    const QString partialPath = partial.fileName();
    {
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(QFile::encodeName(partialPath).constData(), &raw,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        const store::DatabaseHandle copy(raw);
        if (rc != SQLITE_OK)
            refuse(DatabaseFailure, QStringLiteral("不能建立副本“%1”：%2").arg(shownPath(target), engineMessage(raw)));
        copyInSteps(source->fileHandle(), raw, path);
        // The programs keep a rollback journal; a copy of a file left in WAL mode by an
        // earlier version is switched back.
        sqlite3_exec(raw, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
        const QByteArray mode = textOf(raw, "PRAGMA journal_mode");
        const QByteArray integrity = textOf(raw, "PRAGMA integrity_check");
        if (mode != "delete" || integrity != "ok")
            refuse(DatabaseFailure, QStringLiteral("副本没有通过检查（日志模式 %1，完整性 %2），没有保存")
                                        .arg(QString::fromUtf8(mode), QString::fromUtf8(integrity)));
    }
    QFile done(partialPath);
    if (done.open(QIODevice::ReadWrite)) {
        ::fsync(done.handle());
        done.close();
    }
    // A copy holds every password: its owner's alone, whatever the database's mode.
    if (!QFile::setPermissions(partialPath, QFile::ReadOwner | QFile::WriteOwner))
        refuse(DatabaseFailure, QStringLiteral("不能设定副本“%1”的权限").arg(shownPath(target)));
    if (::rename(QFile::encodeName(partialPath).constData(), QFile::encodeName(target).constData()) != 0)
        refuse(DatabaseFailure, QStringLiteral("不能把副本存为“%1”：%2").arg(shownPath(target), QString::fromLocal8Bit(strerror(errno))));
    partial.setAutoRemove(false);
    say(stdout, QStringLiteral("已把数据库文件“%1”备份到“%2”").arg(shownPath(path), shownPath(target)));
    return Done;
}

} // namespace setup
