#include "sys/dynamic_library.h"

#include <dlfcn.h>

namespace velgor {

DynamicLibrary::DynamicLibrary(const std::string& fileName)
    : handle_(dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL)) {}

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
