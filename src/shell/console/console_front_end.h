#pragma once

#include "shell/startup/front_end_entry.h"

namespace velgor {

// Runs the relay on the console until SIGINT or SIGTERM; returns the exit code.
int runConsole(const FrontEndArgs& args);

}  // namespace velgor
