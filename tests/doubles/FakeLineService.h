#pragma once

#include <deque>
#include <set>

#include <QList>
#include <QStringList>

#include "platform/line/LineService.h"

namespace doubles {

// A remote-access service held in memory: the phonebook and the active connections are
// what the test puts there; a hang-up ends the connection and is recorded. A test can
// also script the line per listing: each entry of upAtNextTests is the state the next
// listing of active connections finds (the line changing between two tests of a tick).
class FakeLineService final : public platform::LineService {
public:
    QStringList entries;
    QList<platform::ActiveConnection> active;
    std::deque<bool> upAtNextTests;
    QStringList hungUp;          // handles, in the order they were hung up
    int listings = 0;            // calls of activeConnections()
    bool unknown = false;        // activeConnections() throws LineUnknown, as a failed query does
    std::set<int> unknownAt;     // ... at these listings only (1 is the first)
    bool hangUpFails = false;    // a hang-up is recorded but leaves the connection up

    void connect(const QString& entryName, const QString& handle)
    {
        active << platform::ActiveConnection{entryName, handle};
    }
    // A new connection of the entry, with a handle of its own.
    void connect(const QString& entryName = QStringLiteral("宽带连接"))
    {
        connect(entryName, QString::number(++lastHandle_));
    }
    void drop() { active.clear(); }
    bool up() const { return !active.isEmpty(); }

    QStringList phonebookEntries() override { return entries; }
    QList<platform::ActiveConnection> activeConnections() override
    {
        ++listings;
        if (unknown || unknownAt.count(listings) > 0)
            throw platform::LineUnknown(QStringLiteral("无法得知宽带线路是否连通：查询失败"));
        if (!upAtNextTests.empty()) {
            const bool nowUp = upAtNextTests.front();
            upAtNextTests.pop_front();
            if (!nowUp)
                drop();
            else if (!up())
                connect();
        }
        return active;
    }
    void hangUp(const QString& handle) override
    {
        hungUp << handle;
        if (hangUpFails)
            return;
        active.removeIf([&](const platform::ActiveConnection& c) { return c.handle == handle; });
    }

private:
    int lastHandle_ = 0;
};

} // namespace doubles
