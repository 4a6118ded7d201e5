#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

namespace setup {

// The rows and minutes of one user (and day, when date is not empty), or of a day over
// every user (user empty).
struct UsageLine {
    QString user;
    QString date;
    qint64 rows = 0;
    qint64 minutes = 0;
    bool overflowed = false;
};

// The usage of one period, as the report shows it.
struct Usage {
    QString from;
    QString to;
    double price = 0;
    QString priceText; // the price as the report states it, a decimal number
    QVector<UsageLine> users;       // per user, in the byte order of their names
    QVector<UsageLine> days;        // per user and day, by name, then day
    QVector<UsageLine> dailyTotals; // per day of use over the users, by day
    UsageLine total;
    UsageLine unreadable; // rows whose idate is not a date in the stored form, of any time
    bool overflowed = false;
};

// How the report is laid out: which lines, and how amounts are written.
struct ReportLayout {
    bool byDay = false;
    // false: every amount rounded to the fen from its exact value (horavo::amountInFen);
    // true: in full double precision.
    bool exact = false;
    QString onlyUser; // --user, named in the page's header; empty for everyone
};

// The amount of minutes at the usage's price, written as layout says.
QString amountText(qint64 minutes, const Usage& usage, const ReportLayout& layout);
// The hours of minutes, as the windows write numbers.
QString hoursText(qint64 minutes);
// What the amounts are: "按分四舍五入" or "未取整".
QString roundingText(const ReportLayout& layout);

// The report as one XHTML page for printing and handing to a user: the period and the
// price in its header, the table, and a bar chart of the minutes of each day of use
// (inline SVG). Nothing in it reaches the network or runs.
QByteArray usagePage(const Usage& usage, const ReportLayout& layout);

} // namespace setup
