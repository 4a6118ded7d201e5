#pragma once

#include "tools/horavo-setup/ExitCode.h"
#include "tools/horavo-setup/SetupCommandLine.h"

namespace setup {

// Carries out one request: messages for the user on standard error, the result on
// standard output.
ExitCode runSetup(const SetupRequest& request);

} // namespace setup
