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
    // 4 to 32 bytes go as two overlapping fixed-size copies, loads and stores without a call.
    void putName(std::string_view text)
    {
        const size_t size = text.size();
        if (size < 4 || size > 32 || kCapacity - used_ < size) {
            put(text);
            return;
        }
        char *to = buffer_ + used_;
        const char *from = text.data();
        if (size >= 16) {
            copyFixed<16>(to, from);
            copyFixed<16>(to + size - 16, from + size - 16);
        } else if (size >= 8) {
            copyFixed<8>(to, from);
            copyFixed<8>(to + size - 8, from + size - 8);
        } else {
            copyFixed<4>(to, from);
            copyFixed<4>(to + size - 4, from + size - 4);
        }
        used_ += size;
    }
    void put(char c)
    {
        if (used_ == kCapacity)
            flush();
        buffer_[used_++] = c;
    }
    // The shortest text that reads back as the same double ("1.5", "0.1", "1e+300");
    // "nan", "inf" and "-inf" for the values that have no number. Whole numbers from 0 to
    // 99, which most signals hold, go without a call.
    void putDouble(double value)
    {
        if (value >= 0 && value < 100) {
            const auto whole = static_cast<int>(value);
            if (static_cast<double>(whole) == value && (whole != 0 || !std::signbit(value))) {
                putSmall(static_cast<uint64_t>(whole));
                return;
            }
        }
        putAnyDouble(value);
    }
    // The shortest text that reads back as the same float (for single-precision signals,
    // whose widened double would show digits the float never had).
    void putFloat(float value);
    // At most `digits` significant digits, trailing zeros dropped (for human reading).
    void putDoubleRounded(double value, int digits);
    void putUnsigned(uint64_t value)
    {
        if (value < 100)
            putSmall(value);
        else
            putDigits(value);
    }
    void putSigned(int64_t value);
    // Upper-case hexadecimal, zero-padded to `width` digits.
    void putHex(uint64_t value, int width);

    // Text as a JSON string literal (quotes, backslashes and control characters escaped).
    void putJsonString(std::string_view text);
    // Text as a CSV field (quoted when it holds a comma, a quote or a line end).
    void putCsvField(std::string_view text);

    // Writes what is buffered; throws a tool error when the write fails.
    void flush();

private:
    static constexpr size_t kCapacity = 1 << 16;
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
    static constexpr char kPairs[] = "0001020304050607080910111213141516171819202122232425262728293031323334353637383940"
                                     "4142434445464748495051525354555657585960616263646566676869707172737475767778798081"
                                     "828384858687888990919293949596979899";
    // Values below 100, which most signals hold.
    void putSmall(uint64_t value)
    {
        char *at = reserve(2);
        if (value < 10) {
            *at = static_cast<char>('0' + value);
            ++used_;
        } else {
            std::memcpy(at, kPairs + 2 * value, 2);
            used_ += 2;
        }
    }
    void putDigits(uint64_t value);
    void putAnyDouble(double value);
    // putDouble for a value with a fraction below 2^53 and for a whole one from 2^53 up
    // to 2^64; false when the general conversion must give it.
    bool putFraction(double value, double magnitude);
    bool putLargeWhole(double value, double magnitude);
    // Room for one formatted number (to_chars never needs more than this).
    char *reserve(size_t size)
    {
        if (kCapacity - used_ < size)
            flush();
        return buffer_ + used_;
    }

    int fd_;
    std::string name_;
    size_t used_ = 0;
    char *buffer_;
};

}  // namespace vexo::cli
