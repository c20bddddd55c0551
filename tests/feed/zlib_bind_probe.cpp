// Binds the compression library by its platform name and prints the outcome, so that
// a test can run it with another library search path.
#include <cstdio>

#include "feed/zlib_binding.h"

int main() {
    const velgor::ZlibBinding binding;
    const char* names[] = {"Ok", "LibraryMissing", "CompressMissing", "UncompressMissing"};
    std::printf("%s\n", names[static_cast<int>(binding.status())]);
    return 0;
}
