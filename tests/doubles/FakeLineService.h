#pragma once

#include <QList>
#include <QStringList>

#include "platform/line/LineService.h"

namespace doubles {

// A remote-access service held in memory: the phonebook and the active connections are
// what the test puts there; a hang-up ends the connection and is recorded.
class FakeLineService final : public platform::LineService {
public:
    QStringList entries;
    QList<platform::ActiveConnection> active;
    QStringList hungUp;          // handles, in the order they were hung up
    int listings = 0;            // calls of activeConnections()
    bool unknown = false;        // activeConnections() throws LineUnknown, as a failed query does

    void connect(const QString& entryName, const QString& handle)
    {
        active << platform::ActiveConnection{entryName, handle};
    }

    QStringList phonebookEntries() override { return entries; }
    QList<platform::ActiveConnection> activeConnections() override
    {
        ++listings;
        if (unknown)
            throw platform::LineUnknown(QStringLiteral("无法得知宽带线路是否连通：查询失败"));
        return active;
    }
    void hangUp(const QString& handle) override
    {
        hungUp << handle;
        active.removeIf([&](const platform::ActiveConnection& c) { return c.handle == handle; });
    }
};

} // namespace doubles
