// A stand-in for the compression library with neither `compress` nor `uncompress`.
extern "C" __attribute__((visibility("default"))) int zlibVersionOfNothing() {
    return 0;
}
