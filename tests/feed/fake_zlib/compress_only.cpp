// A stand-in compression library that has `compress` but no `uncompress`.
extern "C" int compress(unsigned char*, unsigned long*, const unsigned char*, unsigned long) {
    return -2;
}
