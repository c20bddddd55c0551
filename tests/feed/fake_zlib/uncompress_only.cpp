// A stand-in compression library that has `uncompress` but no `compress`.
extern "C" int uncompress(unsigned char*, unsigned long*, const unsigned char*, unsigned long) {
    return -2;
}
