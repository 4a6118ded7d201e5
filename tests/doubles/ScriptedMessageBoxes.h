#pragma once

#include <deque>
#include <functional>
#include <vector>

#include <QStringList>

#include "platform/MessageBoxes.h"

namespace doubles {

struct ShownBox {
    QString prompt;
    QString title;
    platform::Buttons buttons;
};

// Message boxes answered from a script, each recorded with what it said. A box with an
// OK button alone needs no scripted answer; a question with none is answered Cancel and
// counted in unscriptedQuestions, so a test can tell.
class ScriptedMessageBoxes final : public platform::MessageBoxes {
public:
    explicit ScriptedMessageBoxes(QString applicationTitle = QStringLiteral("Pomerix"))
        : MessageBoxes(std::move(applicationTitle)) {}

    void answerNext(platform::Answer answer) { questionAnswers.push_back(answer); }

    std::vector<ShownBox> shown;
    std::deque<platform::Answer> questionAnswers;
    int unscriptedQuestions = 0;
    // Runs when a box appears, before it is answered (to look at windows meanwhile).
    std::function<void(const ShownBox&)> onShow;

    QStringList prompts() const;
    const ShownBox& last() const { return shown.back(); }

protected:
    platform::Answer present(const QString& prompt, const QString& title,
                             platform::Buttons buttons) override;
};

} // namespace doubles
