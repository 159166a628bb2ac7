// Buffered output for the tool's results: one large buffer written with write(2), and
// numbers formatted by hand or with std::to_chars, so that decoding millions of frames
// spends its time decoding rather than in stdio.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vexo::cli {

class Output {
public:
    // Writes to a file descriptor (1: standard output); name is used in error messages.
    Output(int fd, std::string name);
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    void put(std::string_view text)
    {
        if (text.size() > kCapacity - used_)
            spill(text);
        else
            append(text.data(), text.size());
    }
    // put for the short texts known only at run time (names, JSON members, timestamps):
    // 4 to 32 bytes go without a call.
    void putName(std::string_view text)
    {
        const size_t size = text.size();
        if (size < 4 || size > 32 || kCapacity - used_ < size) {
            put(text);
            return;
        }
        used_ = static_cast<size_t>(writeName(buffer_ + used_, text) - buffer_);
    }
    void put(char c)
    {
        if (used_ == kCapacity)
            flush();
        buffer_[used_++] = c;
    }
    // The shortest text that reads back as the same double ("1.5", "0.1", "1e+300");
    // "nan", "inf" and "-inf" for the values that have no number.
    void putDouble(double value) { release(writeDouble(claim(kNumberRoom), value)); }
    // The shortest text that reads back as the same float (for single-precision signals,
    // whose widened double would show digits the float never had).
    void putFloat(float value);
    // At most `digits` significant digits, trailing zeros dropped (for human reading).
    void putDoubleRounded(double value, int digits);
    void putUnsigned(uint64_t value) { release(writeUnsigned(claim(kNumberRoom), value)); }
    void putSigned(int64_t value) { release(writeSigned(claim(kNumberRoom), value)); }
    // Upper-case hexadecimal, zero-padded to `width` digits.
    void putHex(uint64_t value, int width);

    // Text as a JSON string literal (quotes, backslashes and control characters escaped).
    void putJsonString(std::string_view text);
    // Text as a CSV field (quoted when it holds a comma, a quote or a line end).
    void putCsvField(std::string_view text);

    // Writes what is buffered; throws a tool error when the write fails.
    void flush();

    // A run of writes without a check each: claim(size) gives room for size bytes
    // (at most kCapacity), the writes go there, and release(end) takes them up to end.
    static constexpr size_t kCapacity = 1 << 16;
    char *claim(size_t size)
    {
        if (kCapacity - used_ < size)
            flush();
        return buffer_ + used_;
    }
    void release(char *end) { used_ = static_cast<size_t>(end - buffer_); }
    // Whether size bytes fit from at, a place in the claimed room.
    bool fits(const char *at, size_t size) const { return static_cast<size_t>(buffer_ + kCapacity - at) >= size; }
    // The number writers behind the put functions: each writes at most kNumberRoom
    // bytes at `at` and returns their end.
    static constexpr size_t kNumberRoom = 32;
    // nonNumber: the text for NaN and infinities, or null for "nan", "inf", "-inf".
    static char *writeDouble(char *at, double value, const char *nonNumber = nullptr)
    {
        // Whole numbers from 0 to 99, which most signals hold, go without a call.
        // As integers, the bits of +0 up to 100 order as the doubles do; those of
        // negative numbers, -0 and NaN come after them.
        uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        if (bits < 0x4059000000000000u) {  // 100.0
            const auto whole = static_cast<int>(value);
            if (static_cast<double>(whole) == value)
                return writeSmall(at, static_cast<uint64_t>(whole));
        }
        if (nonNumber != nullptr && !std::isfinite(value)) {
            const size_t size = std::strlen(nonNumber);
            std::memcpy(at, nonNumber, size);
            return at + size;
        }
        return writeAnyDouble(at, value);
    }
    static char *writeUnsigned(char *at, uint64_t value)
    {
        return value < 100 ? writeSmall(at, value) : writeDigits(at, value);
    }
    static char *writeSigned(char *at, int64_t value);
    // A short text (4 to 32 bytes) as two overlapping fixed-size copies, loads and
    // stores without a call.
    static char *writeName(char *at, std::string_view text)
    {
        const size_t size = text.size();
        const char *from = text.data();
        if (size >= 16) {
            copyFixed<16>(at, from);
            copyFixed<16>(at + size - 16, from + size - 16);
        } else if (size >= 8) {
            copyFixed<8>(at, from);
            copyFixed<8>(at + size - 8, from + size - 8);
        } else {
            copyFixed<4>(at, from);
            copyFixed<4>(at + size - 4, from + size - 4);
        }
        return at + size;
    }

private:
    void append(const char *data, size_t size)
    {
        std::memcpy(buffer_ + used_, data, size);
        used_ += size;
    }
    void spill(std::string_view text);
    template <size_t N>
    static void copyFixed(char *to, const char *from)
    {
        char piece[N];
        std::memcpy(piece, from, N);
        std::memcpy(to, piece, N);
    }
    // The two-digit numbers, "00" to "99", one after the other.
    static constexpr char kPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                     "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                                     "8081828384858687888990919293949596979899";
    // Values below 100, which most signals hold.
    static char *writeSmall(char *at, uint64_t value)
    {
        if (value < 10) {
            *at = static_cast<char>('0' + value);
            return at + 1;
        }
        std::memcpy(at, kPairs + 2 * value, 2);
        return at + 2;
    }
    static char *writeDigits(char *at, uint64_t value);
    static char *writeAnyDouble(char *at, double value);
    // writeAnyDouble for a value with a fraction below 2^53 and for a whole one from 2^53
    // up to 2^64; null when the general conversion must give it.
    static char *writeFraction(char *at, double value, double magnitude);
    static char *writeLargeWhole(char *at, double value, double magnitude);
    int fd_;
    std::string name_;
    size_t used_ = 0;
    char *buffer_;
};

}  // namespace vexo::cli
