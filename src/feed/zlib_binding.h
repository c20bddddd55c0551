#pragma once

#include <string>

#include "feed/compress_fn.h"
#include "sys/dynamic_library.h"

namespace velgor {

// The compression library's file name on this platform. It is attached by this bare
// name, so the platform's library search (LD_LIBRARY_PATH included) decides which
// file is used.
#ifdef _WIN32
inline constexpr const char* ZLIB_LIBRARY_NAME = "zlib1.dll";
#else
inline constexpr const char* ZLIB_LIBRARY_NAME = "libz.so.1";
#endif

// Outcome of attaching the compression library, in the order it is checked.
enum class ZlibBindStatus {
    Ok,
    LibraryMissing,     // the library could not be attached
    CompressMissing,    // it has no `compress`
    UncompressMissing,  // it has `compress` but no `uncompress` (required, though unused)
};

// The compression library attached at run time, with its `compress` entry. The
// library stays attached for the object's life; start-up owns the one instance and
// hands compress() to the consumer sender.
class ZlibBinding {
  public:
    explicit ZlibBinding(std::string fileName = ZLIB_LIBRARY_NAME);

    ZlibBindStatus status() const { return status_; }
    bool ok() const { return status_ == ZlibBindStatus::Ok; }
    // zlib's `compress`, or nullptr unless status() is Ok.
    CompressFn compress() const { return compress_; }
    // The name that was looked for (for the start-up's message).
    const std::string& fileName() const { return fileName_; }

  private:
    std::string fileName_;
    DynamicLibrary library_;
    ZlibBindStatus status_ = ZlibBindStatus::LibraryMissing;
    CompressFn compress_ = nullptr;
};

}  // namespace velgor
