#pragma once

#include <cstddef>
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

// The `internet` row of the connection being timed. Its values are kept here as well
// as in the file: a write that fails (a locked file, a full disk) loses no minute, the
// next write that succeeds carries them, and the failure is reported once until a write
// succeeds again. A connection that ends (the line dropped and was dialed again) before
// its row could be written in full stays here, and every later write writes it first.
// When a row has gone from the file (an administrator cleared the records), its minutes
// that no write has carried yet go on in a new row.
class UsageRow {
public:
    explicit UsageRow(platform::MessageBoxes& boxes);

    // The record set over `internet` through which rows are appended and written.
    void attach(store::RecordSet& rows) { rows_ = &rows; }

    bool started() const { return started_; }            // a row was started in this run
    qlonglong minutes() const { return current_.itime; }  // the row's minutes as counted here
    bool inFile() const { return current_.inFile; }       // the row exists in the file as counted
    std::size_t unfinished() const { return unfinished_.size(); } // earlier rows not yet written

    // A new row for user, started at now, with 1 minute (addtime).
    void start(const QString& user, const QDateTime& now);
    // `minutes` more minutes (one per tick that fell due), ending at now, in one write
    // (gtime).
    void advance(const QDateTime& now, qlonglong minutes = 1);
    // The connection ends at now: the end time (and any minutes not yet written) go to
    // the file. Nothing is written when no row was started in this run.
    void finish(const QDateTime& now);

private:
    struct Row {
        QString iuser;
        QDateTime start;         // idate and stime
        QDateTime last;          // xtime
        qlonglong itime = 0;
        qlonglong written = 0;   // itime that the file holds
        bool inFile = false;     // the file holds this row, at `position` in the record set
        std::size_t position = 0;
        bool settled() const { return itime <= 0 || (inFile && itime == written); }
    };

    void write();
    bool writeRow(Row& row);     // false when the write failed (and was reported)
    bool append(Row& row);
    void report(const QString& message);

    platform::MessageBoxes& boxes_;
    store::RecordSet* rows_ = nullptr;
    bool started_ = false;
    bool failureReported_ = false;
    Row current_;
    std::vector<Row> unfinished_;
};

} // namespace tallyon
