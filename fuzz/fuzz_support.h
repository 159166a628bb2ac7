// Shared pieces of the fuzz targets: a failed check aborts (libFuzzer keeps the input),
// and inputs are read through a memory-backed stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

inline void failIf(bool failed, const char *what)
{
    if (failed) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

inline FILE *openMemory(const uint8_t *data, size_t size)
{
    static char empty[1];
    // fmemopen only reads through the pointer in mode "rb".
    FILE *f = fmemopen(size != 0 ? const_cast<uint8_t *>(data) : reinterpret_cast<uint8_t *>(empty), size, "rb");
    failIf(f == nullptr, "fmemopen");
    return f;
}
