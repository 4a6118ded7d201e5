#pragma once

#include <chrono>
#include <cstdio>

#include <QString>

namespace setup {

// One line on a terminal that tells how far a long command has come: rewritten in place
// (a carriage return, then the text padded over the last one) at most four times a
// second, and ended with a line end. Where the stream is no terminal (a file, a pipe, a
// script's log) it writes nothing at all, so the command's output stays as it was.
//
//     ProgressLine progress(stderr);
//     for (...) { if (progress.due()) progress.show(QStringLiteral("...")); }
//     progress.finish();
class ProgressLine {
public:
    explicit ProgressLine(std::FILE* stream);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Whether a new text would be shown now; cheap enough to ask for every row.
    bool due();
    // Shows text at once (also when not due), replacing what the line showed.
    void show(const QString& text);
    // Ends the line, when anything was shown; nothing more is shown after it.
    void finish();
    // Blanks the line, so that output on the same terminal (a finding on standard
    // output) starts on a clean line; the next show() writes it again.
    void clear();
    // Ends the line that is shown now, if any: a refusal (refuse()) stands on a line of
    // its own whichever command was showing progress.
    static void finishShown();

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval{250};

    std::FILE* stream_;
    bool onTerminal_;
    bool shown_ = false;
    int shownWidth_ = 0;
    unsigned asked_ = 0;
    Clock::time_point last_{};
};

} // namespace setup
