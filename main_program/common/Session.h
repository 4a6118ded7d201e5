#pragma once

#include <QString>

namespace tallyon {

// The program-wide state of Tallyon: the logged-in user and the unit price in yuan per
// hour of use (single precision; 0 until a dial or the administration window sets it).
struct Session {
    QString guser;
    float gprice = 0.0f;
};

} // namespace tallyon
