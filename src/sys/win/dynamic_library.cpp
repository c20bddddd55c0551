#include "sys/dynamic_library.h"

#include <utility>

#include "sys/win/winsock_fd.h"

namespace velgor {

DynamicLibrary::DynamicLibrary(const std::string& fileName)
    : handle_(::LoadLibraryA(fileName.c_str())) {}

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
    if (handle_ == nullptr) return nullptr;
    // An entry point's address handed over as a data address, as dlsym does.
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DynamicLibrary::release() {
    if (handle_ != nullptr) {
        ::FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = nullptr;
    }
}

}  // namespace velgor
