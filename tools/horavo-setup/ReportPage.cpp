// The report as a page to print and hand over: XHTML that is also well-formed XML, with
// its style and its chart inline, so that it opens the same anywhere, offline.
#include <algorithm>
#include <cmath>

#include "rules/NumberFormat.h"
#include "tools/horavo-setup/ToolOutput.h"
#include "tools/horavo-setup/UsageReport.h"

namespace setup {

namespace {

// The chart's measures, in SVG user units.
constexpr int kBarSlot = 28;      // the width each day takes
constexpr int kBarWidth = 18;
constexpr int kPlotHeight = 180;  // the tallest bar
constexpr int kTop = 24;          // room for the tallest bar's minutes
constexpr int kLeft = 8;
constexpr int kLabelRoom = 48;    // the dates under the bars

// Text for a page: stored text shown as everywhere else (control characters as
// escapes, which XML could not carry anyway), then the markup's own characters escaped.
QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : shownText(text)) {
        switch (c.unicode()) {
        case u'&': out += QStringLiteral("&amp;"); break;
        case u'<': out += QStringLiteral("&lt;"); break;
        case u'>': out += QStringLiteral("&gt;"); break;
        case u'"': out += QStringLiteral("&quot;"); break;
        case u'\'': out += QStringLiteral("&#39;"); break;
        default: out += c;
        }
    }
    return out;
}

const char* const kStyle = R"CSS(
body { font-family: "Noto Sans CJK SC", "Source Han Sans SC", "WenQuanYi Micro Hei", "Microsoft YaHei", "PingFang SC", sans-serif;
       color: #111; margin: 2em; }
h1 { font-size: 1.5em; margin: 0 0 0.3em 0; }
h2 { font-size: 1.1em; margin: 1.5em 0 0.5em 0; }
p.period { margin: 0 0 1em 0; }
table { border-collapse: collapse; }
th, td { border: 1px solid #999; padding: 0.25em 0.7em; }
th { background: #eee; }
td.number { text-align: right; font-variant-numeric: tabular-nums; }
tfoot td { font-weight: bold; }
svg { max-width: 100%; height: auto; }
svg rect.bar { fill: #4a7ab5; }
svg text { font-size: 10px; fill: #333; }
p.note { font-size: 0.85em; color: #444; }
@media print {
  body { margin: 0; color: #000; }
  th { background: none; }
  svg rect.bar { fill: #555; }
  table, svg, tr { page-break-inside: avoid; break-inside: avoid; }
}
)CSS";

QString cell(const QString& text, bool number)
{
    return number ? QStringLiteral("<td class=\"number\">%1</td>").arg(escaped(text))
                  : QStringLiteral("<td>%1</td>").arg(escaped(text));
}

QString tableRow(const QString& label, const UsageLine& line, const Usage& usage, const ReportLayout& layout, bool priced)
{
    QString row = QStringLiteral("<tr>") + cell(label, false);
    if (layout.byDay)
        row += cell(line.date, false);
    row += cell(QString::number(line.rows), true) + cell(QString::number(line.minutes), true)
        + cell(priced ? hoursText(line.minutes) : QString(), true)
        + cell(priced ? amountText(line.minutes, usage, layout) : QString(), true);
    return row + QStringLiteral("</tr>\n");
}

QString usageTable(const Usage& usage, const ReportLayout& layout)
{
    QString html = QStringLiteral("<table class=\"usage\">\n<thead><tr><th>用户名</th>");
    if (layout.byDay)
        html += QStringLiteral("<th>日期</th>");
    html += QStringLiteral("<th>记录数</th><th>分钟</th><th>小时</th><th>金额（元）</th></tr></thead>\n<tbody>\n");
    for (const UsageLine& line : layout.byDay ? usage.days : usage.users)
        html += tableRow(line.user, line, usage, layout, true);
    html += QStringLiteral("</tbody>\n<tfoot>\n") + tableRow(QStringLiteral("合计"), usage.total, usage, layout, true);
    if (usage.unreadable.rows > 0)
        html += tableRow(QStringLiteral("（日期无法识别）"), usage.unreadable, usage, layout, false);
    return html + QStringLiteral("</tfoot>\n</table>\n");
}

// Numbers in the chart: at most two decimals, as SVG reads them.
QString coordinate(double value)
{
    return horavo::formatGeneral(std::round(value * 100) / 100, 15);
}

// One bar a day of use, its height in proportion to the day's minutes (the longest day
// fills the plot), the minutes above it and the day under it.
QString dailyChart(const Usage& usage)
{
    if (usage.dailyTotals.isEmpty())
        return QStringLiteral("<p class=\"empty\">这个期间没有使用记录。</p>\n");
    qint64 most = 1;
    for (const UsageLine& day : usage.dailyTotals)
        most = std::max(most, day.minutes);
    const int width = kLeft * 2 + int(usage.dailyTotals.size()) * kBarSlot;
    const int baseline = kTop + kPlotHeight;
    const int height = baseline + kLabelRoom;
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"daily\" width=\"%1\" height=\"%2\" "
                                 "viewBox=\"0 0 %1 %2\" role=\"img\" aria-label=\"每天使用的分钟\">\n")
                      .arg(width)
                      .arg(height);
    svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" stroke=\"#333\" stroke-width=\"1\"/>\n")
               .arg(kLeft)
               .arg(baseline)
               .arg(width - kLeft);
    for (qsizetype i = 0; i < usage.dailyTotals.size(); ++i) {
        const UsageLine& day = usage.dailyTotals[i];
        const double barHeight = double(std::max<qint64>(day.minutes, 0)) / double(most) * kPlotHeight;
        const double x = kLeft + double(i) * kBarSlot + (kBarSlot - kBarWidth) / 2.0;
        const double centre = x + kBarWidth / 2.0;
        svg += QStringLiteral("<g class=\"day\"><rect class=\"bar\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" "
                              "data-date=\"%5\" data-minutes=\"%6\"><title>%5：%6 分钟</title></rect>\n")
                   .arg(coordinate(x), coordinate(baseline - barHeight))
                   .arg(kBarWidth)
                   .arg(coordinate(barHeight), escaped(day.date))
                   .arg(day.minutes);
        svg += QStringLiteral("<text class=\"minutes\" x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>\n")
                   .arg(coordinate(centre), coordinate(baseline - barHeight - 4))
                   .arg(day.minutes);
        // The day as MM-DD, turned so that neighbours do not overlap.
        svg += QStringLiteral("<text class=\"date\" x=\"%1\" y=\"%2\" text-anchor=\"end\" transform=\"rotate(-60 %1 %2)\">%3</text></g>\n")
                   .arg(coordinate(centre))
                   .arg(baseline + 12)
                   .arg(escaped(day.date.mid(5)));
    }
    return svg + QStringLiteral("</svg>\n");
}

} // namespace

QByteArray usagePage(const Usage& usage, const ReportLayout& layout)
{
    const QString title = layout.onlyUser.isEmpty()
        ? QStringLiteral("上网费用清单")
        : QStringLiteral("上网费用清单：%1").arg(layout.onlyUser);
    QString html = QStringLiteral("<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"zh-CN\" xml:lang=\"zh-CN\">\n"
                                  "<head>\n<meta charset=\"UTF-8\"/>\n<title>%1 %2 至 %3</title>\n<style>")
                       .arg(escaped(title), usage.from, usage.to);
    html += QString::fromUtf8(kStyle) + QStringLiteral("</style>\n</head>\n<body>\n");
    html += QStringLiteral("<h1>%1</h1>\n").arg(escaped(title));
    html += QStringLiteral("<p class=\"period\">期间 <span class=\"from\">%1</span> 至 <span class=\"to\">%2</span>，"
                           "单价 <span class=\"price\">%3</span> 元/小时</p>\n")
                .arg(usage.from, usage.to, escaped(usage.priceText));
    html += usageTable(usage, layout);
    html += QStringLiteral("<h2>每天使用的分钟</h2>\n") + dailyChart(usage);
    html += QStringLiteral("<p class=\"note\">金额 = 单价 × 分钟 / 60，%1%2</p>\n")
                .arg(roundingText(layout),
                     layout.exact ? QString() : QStringLiteral("（由准确的金额取到分，远离零；合计由合计的分钟算出）"));
    html += QStringLiteral("</body>\n</html>\n");
    return html.toUtf8();
}

} // namespace setup
