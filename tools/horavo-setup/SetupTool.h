#pragma once

#include "ExitCode.h"
#include "SetupCommandLine.h"

namespace setup {

// Carries out one request: messages for the user on standard error, the result on
// standard output.
ExitCode runSetup(const SetupRequest& request);

} // namespace setup
