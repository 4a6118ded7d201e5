#pragma once

#include <functional>

#include <QString>

#include "platform/OtherCopy.h"

namespace doubles {

// Another copy runs, or not; or, with a failure text, whether one runs cannot be told.
// It counts the asks to show sent to the other copy; the test asks this one with
// askedByAnotherStart().
class FakeOtherCopy final : public platform::OtherCopy {
public:
    explicit FakeOtherCopy(bool running = false) : running_(running) {}
    bool running() override
    {
        if (!failure.isEmpty())
            throw platform::OtherCopyError(failure);
        return running_;
    }
    void askToShow() override { ++asksToShow; }
    void onAskedToShow(std::function<void()> handler) override { askedToShow_ = std::move(handler); }

    void askedByAnotherStart()
    {
        if (askedToShow_)
            askedToShow_();
    }

    QString failure;
    int asksToShow = 0;

private:
    bool running_;
    std::function<void()> askedToShow_;
};

} // namespace doubles
