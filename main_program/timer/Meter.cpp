#include "main_program/timer/Meter.h"

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

Meter::Meter(platform::MessageBoxes& boxes) : boxes_(boxes) {}

qlonglong Meter::unwrittenMinutes() const
{
    qlonglong minutes = 0;
    const auto add = [&minutes](const Row& row) { minutes += row.itime - (row.key ? row.written : 0); };
    for (const Row& row : ended_)
        add(row);
    if (current_)
        add(*current_);
    return minutes;
}

void Meter::sight(qint64 interval, const QDateTime& when, const Sighting& sighting)
{
    if (interval > counted_)
        looks_[interval] = Look{when, sighting};
}

void Meter::settle(qint64 interval, const QDateTime& now, const Sighting& after)
{
    if (interval <= counted_)
        return;
    qlonglong minutes = 0;
    QDateTime billedUpTo;
    bool up = lastSeenUp_;
    QString connection = connection_;
    qint64 unseen = 0;
    // A run of intervals nobody looked at counts when the looks on both sides of it saw
    // the same connection up.
    const auto endRun = [&](const Sighting& next, const QDateTime& when) {
        if (unseen > 0 && up && next.isUp() && next.connection == connection) {
            minutes += unseen;
            billedUpTo = when;
        }
        unseen = 0;
    };
    qint64 previous = counted_;
    for (auto look = looks_.upper_bound(counted_); look != looks_.end() && look->first <= interval; ++look) {
        unseen += look->first - previous - 1;
        previous = look->first;
        const Sighting& seen = look->second.sighting;
        if (seen.line == Sighting::Line::Unknown)
            continue;
        endRun(seen, look->second.when);
        up = seen.isUp();
        if (up) {
            ++minutes;
            billedUpTo = look->second.when;
            connection = seen.connection;
        }
    }
    unseen += interval - previous;
    if (after.line != Sighting::Line::Unknown) {
        endRun(after, now);
        up = after.isUp();
        if (up)
            connection = after.connection;
    }
    bill(minutes, billedUpTo);
    connection_ = connection;
    lastSeenUp_ = up;
    pass(interval);
}

void Meter::pass(qint64 interval)
{
    counted_ = std::max(counted_, interval);
    looks_.erase(looks_.begin(), looks_.upper_bound(counted_));
}

std::optional<QString> Meter::begin(const QString& user, const QDateTime& now, const QString& connection,
                                    qint64 interval)
{
    endRow();
    pass(interval);
    // A row whose connection could not be told apart bills no interval nobody looked at
    // until a look has seen its connection.
    connection_ = connection;
    lastSeenUp_ = !connection.isEmpty();

    Row row{user, now, now, 1, 0, std::nullopt, true};
    if (!writeAll(false) || !writeRow(row, false))
        return lastFailure_;
    current_ = row;
    return std::nullopt;
}

void Meter::tickMinute(qint64 interval, const QDateTime& now, const Sighting& up)
{
    bill(1, now);
    connection_ = up.connection;
    lastSeenUp_ = true;
    pass(interval);
}

void Meter::hangUp(qint64 interval, const QDateTime& now, const Sighting& before)
{
    settle(interval, now, before);
    if (current_) {
        current_->last = now;
        current_->dirty = true;
    }
}

void Meter::lineDown()
{
    lastSeenUp_ = false;
}

void Meter::endRow()
{
    if (current_ && !current_->settled())
        ended_.push_back(*current_);
    current_.reset();
    lastSeenUp_ = false;
}

void Meter::bill(qlonglong minutes, const QDateTime& when)
{
    if (!current_ || minutes <= 0)
        return;
    current_->itime += minutes;
    current_->last = when;
    current_->dirty = true;
}

bool Meter::flush()
{
    return writeAll(true);
}

bool Meter::writeAll(bool report)
{
    if (!rows_)
        return false;
    // Oldest first; one that still fails keeps the rest waiting.
    while (!ended_.empty()) {
        Row& oldest = ended_.front();
        if (!writeRow(oldest, report))
            return false;
        if (oldest.settled())
            ended_.erase(ended_.begin());
    }
    return !current_ || current_->settled() || writeRow(*current_, report);
}

bool Meter::writeRow(Row& row, bool report)
{
    bool written = false;
    try {
        written = row.key ? update(row) : append(row);
    } catch (const store::StoreError& error) {
        if (rows_->editing())
            rows_->cancelUpdate();
        failed(error.message(), report);
        return false;
    }
    if (written) {
        lastFailure_.clear();
        failureReported_ = false;
        return true;
    }
    // Another writer changed or deleted the row: what the file holds of it is theirs
    // now, and the minutes not yet written go on in a new row that starts here.
    row.itime -= row.written;
    row.written = 0;
    row.key.reset();
    row.start = row.last;
    if (row.itime <= 0) {
        row.itime = 0;
        row.dirty = false;
        return true;
    }
    return writeRow(row, report);
}

bool Meter::append(Row& row)
{
    rows_->addNew();
    rows_->setValue(QStringLiteral("iuser"), row.iuser);
    rows_->setValue(QStringLiteral("idate"), dateText(row.start));
    rows_->setValue(QStringLiteral("stime"), timeText(row.start));
    rows_->setValue(QStringLiteral("xtime"), timeText(row.last));
    rows_->setValue(QStringLiteral("itime"), row.itime);
    rows_->update();
    row.key = rows_->key();
    row.written = row.itime;
    row.dirty = false;
    return true;
}

bool Meter::update(Row& row)
{
    if (!rows_->moveToKey(*row.key) || !stillOurs(row))
        return false;
    // The row's identity is written too, so that the write is refused when another
    // writer changed any of it since it was read.
    rows_->setValue(QStringLiteral("iuser"), row.iuser);
    rows_->setValue(QStringLiteral("idate"), dateText(row.start));
    rows_->setValue(QStringLiteral("stime"), timeText(row.start));
    rows_->setValue(QStringLiteral("xtime"), timeText(row.last));
    rows_->setValue(QStringLiteral("itime"), row.itime);
    try {
        rows_->update();
    } catch (const store::ConflictError&) {
        rows_->cancelUpdate();
        return false;
    }
    row.written = row.itime;
    row.dirty = false;
    return true;
}

bool Meter::stillOurs(const Row& row) const
{
    return rows_->value(QStringLiteral("iuser")).toString() == row.iuser
        && rows_->value(QStringLiteral("idate")).toString() == dateText(row.start)
        && rows_->value(QStringLiteral("stime")).toString() == timeText(row.start)
        && rows_->value(QStringLiteral("itime")).toLongLong() == row.written;
}

void Meter::failed(const QString& message, bool report)
{
    lastFailure_ = message;
    if (!report || failureReported_)
        return;
    failureReported_ = true;
    boxes_.show(message);
}

} // namespace tallyon
