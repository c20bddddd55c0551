// The relay program: attaches the compression library, then hands over to the
// front end that suits the machine: the desktop module with a display, the
// console (part of the program, no Qt) without one or when that module is missing.
#include <cstdio>
#include <string>

#include "config/cp1251.h"
#include "feed/zlib_binding.h"
#include "shell/console/console_front_end.h"
#include "shell/startup/compression_check.h"
#include "shell/startup/front_end_choice.h"
#include "shell/startup/front_end_entry.h"
#include "sys/dynamic_library.h"
#include "sys/heap_reuse.h"

namespace {

using namespace velgor;

void printMessage(const OperatorMessage& message) {
    std::fprintf(stderr, "%s: %s", cp1251ToUtf8(message.caption).c_str(),
                 cp1251ToUtf8(message.text).c_str());
}

// Attaches the first desktop module found; the library stays attached for the
// rest of the run.
FrontEndEntry loadFrontEnd(const char* module, DynamicLibrary& library) {
    for (const std::string& path : moduleCandidates(programDirectory(), module)) {
        library = DynamicLibrary(path);
        if (!library.attached()) continue;
        if (void* entry = library.entryPoint(FRONT_END_ENTRY_NAME)) {
            return reinterpret_cast<FrontEndEntry>(entry);
        }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    // Command-line arguments are not used; they are handed on untouched.
    ZlibBinding zlib;
    if (auto failure = compressionFailure(zlib)) {
        if (failure->message) printMessage(*failure->message);
        return failure->exitCode;
    }
    keepFreedHeapTop();

    DynamicLibrary module;
    FrontEndEntry entry = nullptr;
    const FrontEndChoice choice = chooseFrontEndFromEnvironment();
    if (!choice.reason.empty()) {
        std::fprintf(stderr, "velgor: %s; running on the console\n", choice.reason.c_str());
    }
    if (choice.kind == FrontEndKind::Desktop) {
        entry = loadFrontEnd(DESKTOP_MODULE, module);
        if (entry == nullptr) {
            std::fprintf(stderr, "velgor: no desktop front end (%s); running in the console\n",
                         DESKTOP_MODULE);
        }
    }
    const FrontEndArgs args{argc, argv, zlib.compress()};
    if (entry == nullptr) return runConsole(args);
    return entry(&args);
}
