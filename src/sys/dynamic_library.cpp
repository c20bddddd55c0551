#include "sys/dynamic_library.h"

#include <utility>

namespace velgor {

// Ownership of the handle; attaching, looking up and releasing are the platform's
// (posix/, win/).

DynamicLibrary::~DynamicLibrary() {
    release();
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        release();
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

}  // namespace velgor
