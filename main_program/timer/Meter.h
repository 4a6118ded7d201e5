#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include <QDateTime>
#include <QString>

namespace platform {
class MessageBoxes;
}
namespace store {
class RecordSet;
}

namespace tallyon {

// What one look at the line found: a connection of the watched entry up (with the
// connection's identity: a connection made again never has the identity of the one
// before), none, or nothing known (the line service did not answer).
struct Sighting {
    enum class Line { Up, Down, Unknown };
    Line line = Line::Unknown;
    QString connection;

    static Sighting up(const QString& connection) { return {Line::Up, connection}; }
    static Sighting down() { return {Line::Down, {}}; }
    static Sighting unknown() { return {Line::Unknown, {}}; }
    bool isUp() const { return line == Line::Up; }
};

// The bill of the connections of one run: what each `internet` row holds.
//
// The rule. Intervals (minutes) are numbered as they fall due in the run. A row's itime
// is 1 for the minute it began, plus 1 for the tick in which it began when that tick
// ends with the line up (so a row started by a tick holds 2), plus 1 for every later
// interval that fell due while its line was up:
//  - an interval whose tick ran on time counts when the tick's second look finds the
//    line up;
//  - an interval that fell due while the tick was held (a box or a handler open) counts
//    when the look taken at that moment found the line up;
//  - an interval at which nobody looked (the process was stopped, a write waited) counts
//    only when the same connection was up before and after it, so it never dropped;
//  - intervals that fell due while the line was found down (its questions, a dial)
//    count nothing, and nothing before a row's start counts;
//  - a hang-up the user confirms counts the intervals up to the hang-up by the rules
//    above, and its time is the row's end.
// A row whose connection ended (a new row began, a new log-in) is never written again,
// except for minutes counted that it could not yet be written with.
//
// Rows are addressed by their key, never by a position in a record set, and a write
// checks that the row is still the one this run wrote: the same user, date and start,
// and the minutes last written. Another writer's change or delete of it is a conflict:
// its minutes in the file stay theirs, and the minutes not yet written go on in a new
// row of the user's own. A write that fails keeps every minute, and the next write
// that succeeds carries them; the failure is reported once until a write succeeds.
class Meter {
public:
    explicit Meter(platform::MessageBoxes& boxes);

    // The record set over `internet` through which rows are appended and written. A
    // new log-in gives another; rows already started are found in it by their key.
    void attach(store::RecordSet& rows) { rows_ = &rows; }

    bool recording() const { return current_.has_value(); }
    qlonglong minutes() const { return current_ ? current_->itime : 0; }
    // Minutes counted that the file does not hold yet, in every row of the run.
    qlonglong unwrittenMinutes() const;
    // The intervals accounted for so far.
    qint64 counted() const { return counted_; }
    // The message of the last write that failed, empty once one succeeds.
    const QString& lastFailure() const { return lastFailure_; }

    // A look at the line taken at `interval` while the tick was held.
    void sight(qint64 interval, const QDateTime& when, const Sighting& sighting);
    // The intervals up to `interval` that were held, billed as the rule says; `after` is
    // the look that ended the hold, taken at `now`.
    void settle(qint64 interval, const QDateTime& now, const Sighting& after);
    // The intervals up to `interval` count nothing.
    void pass(qint64 interval);

    // A connection found up or dialed at `now`, `interval` intervals into the run: a
    // new row with 1 minute, written at once. The row before it is ended. When the row
    // cannot be written (the failure is returned, not reported), no row is started.
    std::optional<QString> begin(const QString& user, const QDateTime& now, const QString& connection,
                                 qint64 interval);
    // The tick ended with the line up (`up`, looked at `now`): its minute counts,
    // and so does every interval up to `interval`.
    void tickMinute(qint64 interval, const QDateTime& now, const Sighting& up);
    // The user hung up at `now`; `before` is what the line was just before.
    void hangUp(qint64 interval, const QDateTime& now, const Sighting& before);
    // A look found the line down.
    void lineDown();
    // The connection ended without a hang-up of this run's (a new log-in).
    void endRow();

    // Writes every minute not yet written; true when the file holds them all.
    bool flush();

private:
    struct Row {
        QString iuser;
        QDateTime start;          // idate and stime
        QDateTime last;           // xtime
        qlonglong itime = 0;
        qlonglong written = 0;    // the itime the file holds
        std::optional<std::int64_t> key; // the file holds this row
        bool dirty = true;        // changed since the last write
        bool settled() const { return itime <= 0 || (key && !dirty); }
    };
    struct Look {
        QDateTime when;
        Sighting sighting;
    };

    void bill(qlonglong minutes, const QDateTime& when);
    bool writeAll(bool report);
    bool writeRow(Row& row, bool report);  // false when the write failed
    bool append(Row& row);
    bool update(Row& row);
    bool stillOurs(const Row& row) const;
    void failed(const QString& message, bool report);

    platform::MessageBoxes& boxes_;
    store::RecordSet* rows_ = nullptr;
    std::optional<Row> current_;
    std::vector<Row> ended_;          // rows of connections that ended, not yet written in full
    QString connection_;              // the current row's connection as last seen up
    bool lastSeenUp_ = false;         // ... and whether that look was the latest known
    qint64 counted_ = 0;
    std::map<qint64, Look> looks_;    // looks at held intervals not yet settled
    QString lastFailure_;
    bool failureReported_ = false;
};

} // namespace tallyon
