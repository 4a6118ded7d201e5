#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace platform {

struct ActiveConnection {
    QString entryName;
    QString handle;
};

// The machine's remote-access service: its phonebook entries, its active connections
// and hanging one up. Dialing itself goes through the rasdial command.
class LineService {
public:
    virtual ~LineService() = default;
    virtual QStringList phonebookEntries() = 0;                 // in the service's order
    virtual QList<ActiveConnection> activeConnections() = 0;
    virtual void hangUp(const QString& handle) = 0;
};

} // namespace platform
