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
    // tick; minutes of it that could not be written yet get one more try.
    if (started_ && inFile_ && itime_ != written_)
        write();

    started_ = true;
    inFile_ = false;
    iuser_ = user;
    start_ = now;
    last_ = now;
    itime_ = 1;
    written_ = 0;
    write();
}

void UsageRow::advance(const QDateTime& now)
{
    last_ = now;
    ++itime_;
    write();
}

void UsageRow::finish(const QDateTime& now)
{
    if (!started_)
        return;
    last_ = now;
    write();
}

void UsageRow::write()
{
    if (!rows_)
        return;
    if (!inFile_) {
        append();
        return;
    }
    try {
        rows_->setValue(QStringLiteral("xtime"), timeText(last_));
        rows_->setValue(QStringLiteral("itime"), itime_);
        rows_->update();
        written_ = itime_;
        failureReported_ = false;
    } catch (const store::ConflictError&) {
        rows_->cancelUpdate();
        // The row was deleted or changed by someone else. Its minutes in the file are
        // theirs now; the ones not yet written go on in a new row that starts here.
        itime_ -= written_;
        written_ = 0;
        inFile_ = false;
        if (itime_ <= 0) {
            itime_ = 0;
            return;
        }
        start_ = last_;
        append();
    } catch (const store::StoreError& error) {
        rows_->cancelUpdate();
        report(error.message());
    }
}

void UsageRow::append()
{
    try {
        rows_->addNew();
        rows_->setValue(QStringLiteral("iuser"), iuser_);
        rows_->setValue(QStringLiteral("idate"), dateText(start_));
        rows_->setValue(QStringLiteral("stime"), timeText(start_));
        rows_->setValue(QStringLiteral("xtime"), timeText(last_));
        rows_->setValue(QStringLiteral("itime"), itime_);
        rows_->update();
        inFile_ = true;
        written_ = itime_;
        failureReported_ = false;
    } catch (const store::StoreError& error) {
        rows_->cancelUpdate();
        report(error.message());
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
