#pragma once

#include <deque>

#include <QStringList>

#include "platform/line/LineService.h"

namespace timertest {

// A broadband line whose state a test sets, or scripts per connection test: each
// entry of upAtNextTests is the state the next listing of active connections finds
// (the line changing between the two tests of one tick).
class ScriptedLine final : public platform::LineService {
public:
    QStringList entries{QStringLiteral("宽带连接")};
    QList<platform::ActiveConnection> connections;
    std::deque<bool> upAtNextTests;
    QStringList hungUp;
    int listings = 0;

    void connect(const QString& entry = QStringLiteral("宽带连接"))
    {
        connections.append({entry, QString::number(++lastHandle_)});
    }
    void drop() { connections.clear(); }
    bool up() const { return !connections.isEmpty(); }

    QStringList phonebookEntries() override { return entries; }
    QList<platform::ActiveConnection> activeConnections() override
    {
        ++listings;
        if (!upAtNextTests.empty()) {
            const bool up = upAtNextTests.front();
            upAtNextTests.pop_front();
            if (!up)
                drop();
            else if (this->up() == false)
                connect();
        }
        return connections;
    }
    void hangUp(const QString& handle) override
    {
        hungUp << handle;
        for (qsizetype i = 0; i < connections.size(); ++i) {
            if (connections.at(i).handle == handle)
                connections.removeAt(i--);
        }
    }

private:
    int lastHandle_ = 0;
};

} // namespace timertest
