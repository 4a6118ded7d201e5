#pragma once

#include <QString>
#include <QTemporaryDir>

#include "store/DatabaseAddress.h"
#include "tests/doubles/EnvironmentVariable.h"

namespace doubles {

// A fresh horavo.mdb with the three tables in a temporary folder that is the current
// working directory while this lives (the programs open the file from there), with
// HORAVO_DATABASE unset meanwhile.
class TempDatabase {
public:
    TempDatabase();
    ~TempDatabase();
    TempDatabase(const TempDatabase&) = delete;
    TempDatabase& operator=(const TempDatabase&) = delete;

    bool ready() const { return true; }
    QString folder() const { return dir_.path(); }
    QString path() const;
    store::DatabaseAddress address() const { return store::DatabaseAddress::file(path()); }

    // Runs statements directly on the file (setting up rows, reading them back).
    void exec(const QString& sql) const;
    // The first column of the first row, or a null QVariant when there is none.
    QVariant scalar(const QString& sql) const;
    // Every row, columns joined by "|", NULL as "<null>".
    QStringList rows(const QString& sql) const;

private:
    QTemporaryDir dir_;
    QString previousFolder_;
    EnvironmentVariable noServer_{store::kDatabaseVariable, QByteArray()};
};

// A fixture's temporary database as a base class listed before the window services, so
// that the file outlives the windows holding record sets over it.
struct WithTempDatabase {
    TempDatabase db;
};

} // namespace doubles
