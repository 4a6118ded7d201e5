#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "rules/Failure.h"

namespace platform {

struct ActiveConnection {
    QString entryName;
    QString handle;
};

// The state of the line cannot be learned: the service's query failed or took too long.
// Not the same as "no connection": a line whose state is unknown may well be up.
class LineUnknown : public horavo::Failure {
public:
    using Failure::Failure;
};

// The machine's remote-access service: its phonebook entries, its active connections
// and hanging one up. Dialing itself goes through the rasdial command.
class LineService {
public:
    virtual ~LineService() = default;
    virtual QStringList phonebookEntries() = 0;                 // in the service's order
    // Throws LineUnknown when the connections cannot be learned.
    virtual QList<ActiveConnection> activeConnections() = 0;
    virtual void hangUp(const QString& handle) = 0;
};

} // namespace platform
