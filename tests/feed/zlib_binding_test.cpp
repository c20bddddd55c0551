#include "feed/zlib_binding.h"

#include <gtest/gtest.h>
#include <zlib.h>

#ifdef __GLIBC__
#include <sys/resource.h>
#endif

#include <string>
#include <vector>

#include "sys/heap_reuse.h"

namespace velgor {
namespace {

TEST(ZlibBinding, PlatformLibraryBindsAndItsCompressMakesAZlibStream) {
    const ZlibBinding binding;
    ASSERT_EQ(binding.status(), ZlibBindStatus::Ok);
#ifdef _WIN32
    EXPECT_EQ(binding.fileName(), "zlib1.dll");
#else
    EXPECT_EQ(binding.fileName(), "libz.so.1");
#endif
    ASSERT_NE(binding.compress(), nullptr);

    // zlib's lengths are unsigned long, 32 bits on Windows.
    const unsigned long textLength = 5000;
    const std::string text(textLength, 'a');
    std::vector<unsigned char> packed(compressedSizeBound(textLength));
    unsigned long packedLength = compressedSizeBound(textLength);
    ASSERT_EQ(binding.compress()(packed.data(), &packedLength,
                                 reinterpret_cast<const unsigned char*>(text.data()), textLength),
              COMPRESS_OK);
    EXPECT_LT(packedLength, 100u);

    std::string unpacked(text.size(), '\0');
    uLongf unpackedLength = textLength;
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(unpacked.data()), &unpackedLength, packed.data(),
                         packedLength),
              Z_OK);
    EXPECT_EQ(unpacked, text);
}

#ifdef __GLIBC__
long minorPageFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// With the freed top of the heap kept, compress calls one after another reuse
// zlib's working state instead of faulting its pages in anew (about 65 a call
// otherwise).
TEST(ZlibBinding, RepeatedCompressCallsFaultNoPagesInOnceTheHeapTopIsKept) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator takes the C library's place";
#endif
    keepFreedHeapTop();
    const ZlibBinding binding;
    ASSERT_TRUE(binding.ok());
    std::string batch;
    for (int n = 0; batch.size() < 60000; ++n)
        batch += "@0123456789AB8D4840D6" + std::to_string(n) + ";\r\n";
    std::vector<unsigned char> packed(compressedSizeBound(batch.size()));
    const auto compressOnce = [&] {
        unsigned long length = packed.size();
        return binding.compress()(packed.data(), &length,
                                  reinterpret_cast<const unsigned char*>(batch.data()),
                                  batch.size());
    };
    ASSERT_EQ(compressOnce(), COMPRESS_OK);  // the first call grows the heap
    const long before = minorPageFaults();
    for (int i = 0; i < 50; ++i) ASSERT_EQ(compressOnce(), COMPRESS_OK);
    EXPECT_LT(minorPageFaults() - before, 50);
}
#endif

TEST(ZlibBinding, IncompleteOrMissingLibrariesAreTellsApart) {
    struct Case {
        const char* file;
        ZlibBindStatus status;
    };
    for (const Case& c : {Case{VELGOR_FAKE_ZLIB_COMPRESS_ONLY, ZlibBindStatus::UncompressMissing},
                          Case{VELGOR_FAKE_ZLIB_UNCOMPRESS_ONLY, ZlibBindStatus::CompressMissing},
                          Case{"libvelgor-no-such-zlib.so.1", ZlibBindStatus::LibraryMissing}}) {
        const ZlibBinding binding(c.file);
        EXPECT_EQ(binding.status(), c.status) << c.file;
        EXPECT_FALSE(binding.ok());
        EXPECT_EQ(binding.compress(), nullptr);
        EXPECT_EQ(binding.fileName(), c.file);
    }
}

// compressedSizeBound must never promise less room than zlib needs.
TEST(ZlibBinding, SizeBoundCoversZlibsOwn) {
    for (unsigned long n : {0ul, 1ul, 4095ul, 16384ul, 65534ul, 65535ul, 65536ul, 1ul << 25}) {
        EXPECT_GE(compressedSizeBound(n), compressBound(n)) << n;
    }
}

}  // namespace
}  // namespace velgor
