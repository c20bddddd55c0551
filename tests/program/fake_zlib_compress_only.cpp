// A stand-in for the compression library that has `compress` but no `uncompress`.
extern "C" __attribute__((visibility("default"))) int compress(unsigned char*, unsigned long*,
                                                               const unsigned char*,
                                                               unsigned long) {
    return -1;
}
