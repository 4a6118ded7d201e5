#include "tools/horavo-setup/ProgressLine.h"

#include <unistd.h>

#include "tools/horavo-setup/ToolOutput.h"

namespace setup {

namespace {
// The line whose text stands on the terminal now (the tool shows one at a time).
ProgressLine* shownLine = nullptr;
} // namespace

ProgressLine::ProgressLine(std::FILE* stream) : stream_(stream), onTerminal_(::isatty(::fileno(stream)) == 1) {}

ProgressLine::~ProgressLine()
{
    finish();
}

void ProgressLine::finishShown()
{
    if (shownLine)
        shownLine->finish();
}

bool ProgressLine::due()
{
    if (!onTerminal_)
        return false;
    // The clock is read once every 256 questions: a million rows ask a million times.
    if (shown_ && (++asked_ & 0xFF) != 0)
        return false;
    return Clock::now() - last_ >= kInterval;
}

void ProgressLine::show(const QString& text)
{
    if (!onTerminal_)
        return;
    const int width = displayWidth(text);
    const QString line = QLatin1Char('\r') + padded(text, qMax(width, shownWidth_), false);
    put(stream_, line.toLocal8Bit());
    shown_ = true;
    shownLine = this;
    shownWidth_ = width;
    last_ = Clock::now();
}

void ProgressLine::clear()
{
    if (!shown_)
        return;
    put(stream_, (QLatin1Char('\r') + QString(shownWidth_, QLatin1Char(' ')) + QLatin1Char('\r')).toLocal8Bit());
    shown_ = false;
    shownLine = nullptr;
    shownWidth_ = 0;
}

void ProgressLine::finish()
{
    if (shown_)
        put(stream_, "\n");
    shown_ = false;
    onTerminal_ = false;
    if (shownLine == this)
        shownLine = nullptr;
}

} // namespace setup
