#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace doubles {

// The built horavo-setup (from HORAVO_BIN_DIR).
QString setupProgram();

// What the tool is given besides its arguments.
struct SetupRun {
    SetupRun(QByteArray input = {}, QString databaseVariable = {}, QString settingsFile = {})
        : input(std::move(input)), databaseVariable(std::move(databaseVariable)), settingsFile(std::move(settingsFile)) {}
    QByteArray input;        // its standard input (a pipe closed after this), not a terminal
    QString databaseVariable; // HORAVO_DATABASE; unset when empty
    QString settingsFile;     // HORAVO_SETTINGS; the test command's empty one when empty
    // Standard error a pseudo-terminal (raw: no line-end translation), as at a console;
    // otherwise a pipe.
    bool errorOnTerminal = false;
};

struct SetupOutcome {
    int exitCode = -1; // -1: it did not end by itself within two minutes
    QByteArray out;
    QString err;
    QString text() const { return QString::fromUtf8(out); }
};

// Runs horavo-setup in folder as a user would, and waits for it to end.
SetupOutcome runSetup(const QStringList& arguments, const QString& folder, const SetupRun& how = {});

} // namespace doubles
