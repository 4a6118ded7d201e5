#pragma once

#include <QString>

#include "platform/OtherCopy.h"

namespace doubles {

// Another copy runs, or not; or, with a failure text, whether one runs cannot be told.
class FakeOtherCopy final : public platform::OtherCopy {
public:
    explicit FakeOtherCopy(bool running = false) : running_(running) {}
    bool running() override
    {
        if (!failure.isEmpty())
            throw platform::OtherCopyError(failure);
        return running_;
    }

    QString failure;

private:
    bool running_;
};

} // namespace doubles
