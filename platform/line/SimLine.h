#pragma once

#include <functional>

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include "platform/line/DialableLine.h"
#include "rules/Failure.h"

namespace platform {

// The simulated line cannot be read or written (no file, bad JSON, lock not had).
class SimLineError : public horavo::Failure {
public:
    using Failure::Failure;
};

struct SimConnection {
    int handle = 0;
    QString entry;
};

// The whole state of a simulated broadband line: the phonebook, the accounts the ISP
// knows (name to password), whether the cable is in, and the connections that are up.
struct SimLineState {
    QStringList entries;
    QMap<QString, QString> accounts;
    bool cable = true;
    QList<SimConnection> active;

    // One entry "宽带连接", the account demo/demo, the cable in, nothing connected.
    static SimLineState demo();

    QByteArray toJson() const;
    // Keys left out take their defaults; with the cable out nothing stays connected.
    static SimLineState fromJson(const QByteArray& json); // throws SimLineError

    void unplug();                        // also drops every connection
    int connect(const QString& entry);    // the new connection's handle
    bool drop(int handle);                // false when no such connection
};

// The JSON file that holds a simulated line, shared by every process that uses it: each
// access holds a lock file beside it, and each write replaces the file in one step.
class SimLineFile {
public:
    explicit SimLineFile(QString path);

    const QString& path() const { return path_; }
    SimLineState read() const;
    void write(const SimLineState& state) const;
    // Reads, changes and writes back under one lock; returns the state written.
    SimLineState modify(const std::function<void(SimLineState&)>& change) const;

private:
    SimLineState readUnlocked() const;
    void writeUnlocked(const SimLineState& state) const;

    QString path_;
};

// The line service on a simulated line. An unreadable file behaves like a stopped
// service: no entries, connections unknown (LineUnknown), and a dial fails with 711.
class SimLineService final : public DialableLine {
public:
    explicit SimLineService(QString path) : file_(std::move(path)) {}

    QStringList phonebookEntries() override;
    QList<ActiveConnection> activeConnections() override;
    void hangUp(const QString& handle) override;
    DialResult dial(const QString& entry, const std::optional<QString>& user,
                    const std::optional<QString>& password, const Progress& progress) override;

private:
    SimLineFile file_;
};

} // namespace platform
