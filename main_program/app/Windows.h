#pragma once

namespace tallyon {

struct Services;

// Tells the program's window registry how to make each window of Tallyon.
void defineWindows(Services& services);

} // namespace tallyon
