#pragma once

#include <string>

namespace velgor {

// A shared library attached at run time by its bare file name, so the
// platform's normal library search applies. Move-only owner of the handle.
class DynamicLibrary {
  public:
    DynamicLibrary() = default;
    explicit DynamicLibrary(const std::string& fileName);
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    bool attached() const { return handle_ != nullptr; }
    // The entry point's address, or nullptr when the library has none.
    [[nodiscard]] void* entryPoint(const char* name) const;
    void release();

  private:
    void* handle_ = nullptr;
};

}  // namespace velgor
