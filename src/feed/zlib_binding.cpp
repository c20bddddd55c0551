#include "feed/zlib_binding.h"

#include <utility>

namespace velgor {

ZlibBinding::ZlibBinding(std::string fileName)
    : fileName_(std::move(fileName)), library_(fileName_) {
    if (!library_.attached()) {
        status_ = ZlibBindStatus::LibraryMissing;
        return;
    }
    void* compressEntry = library_.entryPoint("compress");
    if (compressEntry == nullptr) {
        status_ = ZlibBindStatus::CompressMissing;
        return;
    }
    if (library_.entryPoint("uncompress") == nullptr) {
        status_ = ZlibBindStatus::UncompressMissing;
        return;
    }
    status_ = ZlibBindStatus::Ok;
    // A data address turned into the function it names: what the platform's
    // run-time binding hands back.
    compress_ = reinterpret_cast<CompressFn>(compressEntry);
}

}  // namespace velgor
