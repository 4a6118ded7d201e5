#pragma once

#include "platform/OtherCopy.h"

namespace doubles {

class FakeOtherCopy final : public platform::OtherCopy {
public:
    explicit FakeOtherCopy(bool running = false) : running_(running) {}
    bool running() override { return running_; }

private:
    bool running_;
};

} // namespace doubles
