#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <optional>

#include "store/DatabaseAddress.h"
#include "tests/doubles/EnvironmentVariable.h"

namespace doubles {

// A fresh database with the three tables on the tests' PostgreSQL server, named by
// HORAVO_DATABASE while this lives (so the programs' code reaches it), with an empty
// temporary folder as the current working directory: no horavo.mdb is there to be used
// by mistake. Without a server, ready() is false and nothing is set.
class ServerDatabase {
public:
    ServerDatabase();
    ~ServerDatabase();
    ServerDatabase(const ServerDatabase&) = delete;
    ServerDatabase& operator=(const ServerDatabase&) = delete;

    bool ready() const { return !conninfo_.isEmpty(); }
    const QString& conninfo() const { return conninfo_; }
    store::DatabaseAddress address() const { return store::DatabaseAddress::server(conninfo_); }
    QString folder() const { return dir_.path(); }

    // As TempDatabase's: statements run directly on the database; the server's key
    // column is left out of what rows() gives, as record sets leave it out.
    void exec(const QString& sql) const;
    QVariant scalar(const QString& sql) const;
    QStringList rows(const QString& sql) const;

private:
    QTemporaryDir dir_;
    QString conninfo_;
    QString previousFolder_;
    std::optional<EnvironmentVariable> namedServer_;
};

} // namespace doubles
