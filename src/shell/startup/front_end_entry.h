#pragma once

#include "feed/compress_fn.h"

namespace velgor {

// What the program hands a front-end module once the compression library is
// attached. Front ends are modules so that the program itself links no Qt: the
// compression library is attached by the platform's own search before anything
// else loads a copy of it, and the console never maps Qt's widget libraries.
struct FrontEndArgs {
    int argc = 0;
    char** argv = nullptr;
    CompressFn compress = nullptr;
};

// Every front-end module exports this entry; it runs the relay and returns the
// exit code.
using FrontEndEntry = int (*)(const FrontEndArgs* args);
inline constexpr char FRONT_END_ENTRY_NAME[] = "velgorRunFrontEnd";

}  // namespace velgor
