#include "tests/doubles/TempDatabase.h"

#include <stdexcept>

#include <QDir>
#include <QVariant>

#include <sqlite3.h>

#include "store/DatabaseFile.h"

namespace doubles {

namespace {

struct Handle {
    sqlite3* db = nullptr;
    explicit Handle(const QString& path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open test database");
        sqlite3_busy_timeout(db, 5000);
    }
    ~Handle() { sqlite3_close_v2(db); }
};

QVariant columnValue(sqlite3_stmt* stmt, int column)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL:
        return {};
    case SQLITE_INTEGER:
        return QVariant::fromValue<qlonglong>(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(stmt, column);
    default:
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)));
    }
}

template <typename RowFn>
void query(const QString& path, const QString& sql, RowFn onRow)
{
    Handle h(path);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(h.db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string("bad test statement: ") + sqlite3_errmsg(h.db));
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
        onRow(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        throw std::runtime_error(std::string("test statement failed: ") + sqlite3_errmsg(h.db));
}

} // namespace

TempDatabase::TempDatabase() : previousFolder_(QDir::currentPath())
{
    if (!dir_.isValid())
        throw std::runtime_error("cannot make a temporary folder");
    store::createDatabase(path());
    QDir::setCurrent(dir_.path());
}

TempDatabase::~TempDatabase()
{
    QDir::setCurrent(previousFolder_);
}

QString TempDatabase::path() const
{
    return dir_.filePath(QStringLiteral("horavo.mdb"));
}

void TempDatabase::exec(const QString& sql) const
{
    Handle h(path());
    char* error = nullptr;
    if (sqlite3_exec(h.db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "unknown";
        sqlite3_free(error);
        throw std::runtime_error("test statement failed: " + message);
    }
}

QVariant TempDatabase::scalar(const QString& sql) const
{
    QVariant result;
    bool first = true;
    query(path(), sql, [&](sqlite3_stmt* stmt) {
        if (first)
            result = columnValue(stmt, 0);
        first = false;
    });
    return result;
}

QStringList TempDatabase::rows(const QString& sql) const
{
    QStringList all;
    query(path(), sql, [&](sqlite3_stmt* stmt) {
        QStringList cells;
        for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
            const QVariant v = columnValue(stmt, c);
            cells << (v.isNull() ? QStringLiteral("<null>") : v.toString());
        }
        all << cells.join(QLatin1Char('|'));
    });
    return all;
}

} // namespace doubles
