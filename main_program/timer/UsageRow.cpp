#include "main_program/timer/UsageRow.h"

#include <QDateTime>
#include <QVariant>

#include "platform/MessageBoxes.h"
#include "store/RecordSet.h"
#include "store/StoreError.h"

namespace tallyon {

namespace {

QString dateText(const QDateTime& when)
{
    return when.date().toString(QStringLiteral("yyyy-MM-dd"));
}

QString timeText(const QDateTime& when)
{
    return when.time().toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

UsageRow::UsageRow(platform::MessageBoxes& boxes) : boxes_(boxes) {}

void UsageRow::start(const QString& user, const QDateTime& now)
{
    // The row before it (a connection that dropped) keeps what it had at its last good
    // tick; what of it could not be written yet is written before the new row.
    if (started_ && !current_.settled())
        unfinished_.push_back(current_);

    started_ = true;
    current_ = Row{user, now, now, 1, 0, false, 0};
    write();
}

void UsageRow::advance(const QDateTime& now, qlonglong minutes)
{
    current_.last = now;
    current_.itime += minutes;
    write();
}

void UsageRow::finish(const QDateTime& now)
{
    if (!started_)
        return;
    current_.last = now;
    write();
}

void UsageRow::write()
{
    if (!rows_)
        return;
    // Oldest first; one that still fails keeps the rest waiting, and is reported.
    while (!unfinished_.empty()) {
        Row& oldest = unfinished_.front();
        if (!writeRow(oldest))
            return;
        if (oldest.settled())
            unfinished_.erase(unfinished_.begin());
    }
    writeRow(current_);
}

bool UsageRow::writeRow(Row& row)
{
    if (!row.inFile)
        return append(row);
    try {
        rows_->moveTo(row.position);
        rows_->setValue(QStringLiteral("xtime"), timeText(row.last));
        rows_->setValue(QStringLiteral("itime"), row.itime);
        rows_->update();
        row.written = row.itime;
        failureReported_ = false;
        return true;
    } catch (const store::ConflictError&) {
        rows_->cancelUpdate();
        // The row was deleted or changed by someone else. Its minutes in the file are
        // theirs now; the ones not yet written go on in a new row that starts here.
        row.itime -= row.written;
        row.written = 0;
        row.inFile = false;
        if (row.itime <= 0) {
            row.itime = 0;
            return true;
        }
        row.start = row.last;
        return append(row);
    } catch (const store::StoreError& error) {
        if (rows_->editing())
            rows_->cancelUpdate();
        report(error.message());
        return false;
    }
}

bool UsageRow::append(Row& row)
{
    try {
        rows_->addNew();
        rows_->setValue(QStringLiteral("iuser"), row.iuser);
        rows_->setValue(QStringLiteral("idate"), dateText(row.start));
        rows_->setValue(QStringLiteral("stime"), timeText(row.start));
        rows_->setValue(QStringLiteral("xtime"), timeText(row.last));
        rows_->setValue(QStringLiteral("itime"), row.itime);
        rows_->update();
        row.inFile = true;
        row.position = rows_->position();
        row.written = row.itime;
        failureReported_ = false;
        return true;
    } catch (const store::StoreError& error) {
        if (rows_->editing())
            rows_->cancelUpdate();
        report(error.message());
        return false;
    }
}

void UsageRow::report(const QString& message)
{
    if (failureReported_)
        return;
    failureReported_ = true;
    boxes_.show(message);
}

} // namespace tallyon
