#pragma once

#include <QString>

namespace tallyon {

// The program-wide state of Tallyon: the logged-in user and the unit price in yuan per
// hour of use (single precision; 0 until a dial or the administration window sets it).
struct Session {
    QString guser;
    float gprice = 0.0f;
};

// A price not greater than 0, or with no value, counts as 0.3 yuan per hour.
inline constexpr float kFallbackPrice = 0.3f;

} // namespace tallyon
