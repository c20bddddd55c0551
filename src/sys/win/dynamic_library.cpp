#include "sys/dynamic_library.h"

#include "sys/win/winsock_fd.h"

namespace velgor {

DynamicLibrary::DynamicLibrary(const std::string& fileName)
    : handle_(::LoadLibraryA(fileName.c_str())) {}

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
