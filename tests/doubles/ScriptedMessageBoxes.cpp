#include "tests/doubles/ScriptedMessageBoxes.h"

namespace doubles {

QStringList ScriptedMessageBoxes::prompts() const
{
    QStringList all;
    for (const auto& box : shown)
        all << box.prompt;
    return all;
}

platform::Answer ScriptedMessageBoxes::present(const QString& prompt, const QString& title,
                                               platform::Buttons buttons)
{
    shown.push_back({prompt, title, buttons});
    if (onShow)
        onShow(shown.back());
    if (buttons == platform::Buttons::Ok)
        return platform::Answer::Ok;
    if (questionAnswers.empty()) {
        ++unscriptedQuestions;
        return platform::Answer::Cancel;
    }
    const auto answer = questionAnswers.front();
    questionAnswers.pop_front();
    return answer;
}

} // namespace doubles
