#pragma once

#include "feed/compress_fn.h"

namespace velgor {

// What the program hands a front end once the compression library is attached.
// The desktop is a module so that the program itself links no Qt: the
// compression library is attached by the platform's own search before anything
// else loads a copy of it, and the console, built into the program, never maps
// a Qt library.
struct FrontEndArgs {
    int argc = 0;
    char** argv = nullptr;
    CompressFn compress = nullptr;
};

// The desktop module exports this entry; it runs the relay and returns the
// exit code.
using FrontEndEntry = int (*)(const FrontEndArgs* args);
inline constexpr char FRONT_END_ENTRY_NAME[] = "velgorRunFrontEnd";

}  // namespace velgor
