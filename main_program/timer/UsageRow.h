#pragma once

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
// succeeds again. When the row has gone from the file (an administrator cleared the
// records), timing goes on in a new row that holds the minutes no write has carried yet.
class UsageRow {
public:
    explicit UsageRow(platform::MessageBoxes& boxes);

    // The record set over `internet` through which rows are appended and written.
    void attach(store::RecordSet& rows) { rows_ = &rows; }

    bool started() const { return started_; }    // a row was started in this run
    qlonglong minutes() const { return itime_; }  // the row's minutes as counted here
    bool inFile() const { return inFile_; }       // the row exists in the file as counted

    // A new row for user, started at now, with 1 minute (addtime).
    void start(const QString& user, const QDateTime& now);
    // One more minute, ending at now (gtime).
    void advance(const QDateTime& now);
    // The connection ends at now: the end time (and any minutes not yet written) go to
    // the file. Nothing is written when no row was started in this run.
    void finish(const QDateTime& now);

private:
    void write();
    void append();
    void report(const QString& message);

    platform::MessageBoxes& boxes_;
    store::RecordSet* rows_ = nullptr;
    bool started_ = false;
    bool inFile_ = false;          // the file holds this row (the record set's current row)
    bool failureReported_ = false;
    QString iuser_;
    QDateTime start_;              // idate and stime
    QDateTime last_;               // xtime
    qlonglong itime_ = 0;
    qlonglong written_ = 0;        // itime that the file holds
};

} // namespace tallyon
