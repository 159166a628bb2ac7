// Shared pieces of the fuzz targets: a failed check aborts (libFuzzer keeps the input),
// inputs are read through a memory-backed stream or as a program of small numbers.
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

// Reads the input as a stream of small numbers; zeros once it runs out.
struct Program {
    const uint8_t *data;
    size_t size, at = 0;
    bool done() const { return at >= size; }
    uint32_t byte() { return at < size ? data[at++] : 0; }
    uint32_t below(uint32_t n) { return n == 0 ? 0 : byte() % n; }
    uint32_t word()
    {
        const uint32_t kind = byte();
        switch (kind % 4) {
        case 0: return kind >> 2;                                        // small
        case 1: return byte() | byte() << 8;                             // 16 bits
        case 2: return byte() | byte() << 8 | byte() << 16 | byte() << 24;  // any
        default: return 0xFFFFFFFFu - (kind >> 2);                       // near the top
        }
    }
    double real() { return static_cast<int32_t>(word()) / 8.0; }
};
