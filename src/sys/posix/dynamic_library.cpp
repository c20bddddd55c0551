#include "sys/dynamic_library.h"

#include <dlfcn.h>

#include <utility>

namespace velgor {

DynamicLibrary::DynamicLibrary(const std::string& fileName)
    : handle_(dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL)) {}

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

void* DynamicLibrary::entryPoint(const char* name) const {
    return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

void DynamicLibrary::release() {
    if (handle_ != nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
    }
}

}  // namespace velgor
