#pragma once

#include <QIcon>

namespace tallyon {

// The icon of Tallyon (a stopwatch), in 16, 32, 48 and 256 pixels, from the resources
// under :/tallyon/icons/ (tallyon-256.png is the largest).
QIcon programIcon();

} // namespace tallyon
