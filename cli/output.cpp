// Buffered output; numbers from their digits where that is cheap, through std::to_chars otherwise.
#include "output.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "failure.h"

namespace vexo::cli {

Output::Output(int fd, std::string name) : fd_(fd), name_(std::move(name)), buffer_(new char[kCapacity]) {}

Output::~Output()
{
    delete[] buffer_;
}

void Output::spill(std::string_view text)
{
    while (!text.empty()) {
        if (used_ == kCapacity)
            flush();
        const size_t piece = std::min(text.size(), kCapacity - used_);
        append(text.data(), piece);
        text.remove_prefix(piece);
    }
}

void Output::flush()
{
    size_t done = 0;
    while (done < used_) {
        const ssize_t written = ::write(fd_, buffer_ + done, used_ - done);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throw Failure("cannot write " + name_ + ": " + std::strerror(errno));
        }
        done += static_cast<size_t>(written);
    }
    used_ = 0;
}

namespace {

constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                              1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr uint64_t kWholePowers[] = {
    1u,           10u,           100u,           1000u,           10000u,           100000u,           1000000u,
    10000000u,    100000000u,    1000000000u,    10000000000u,    100000000000u,    1000000000000u,    10000000000000u,
    100000000000000u,    1000000000000000u,    10000000000000000u,    100000000000000000u,    1000000000000000000u,
    10000000000000000000u};

// The number of decimal digits of v.
int digitCount(uint64_t v)
{
    // 1233 / 4096 is just above log10(2): the bit length gives the digits or one more.
    const int guess = ((64 - __builtin_clzll(v | 1)) * 1233) >> 12;
    return guess + ((v | 1) >= kWholePowers[guess] ? 1 : 0);
}

// Takes up to 15 trailing zeros off n; gives how many went.
int stripZeros(uint64_t &n)
{
    int zeros = 0;
    for (const int step : {8, 4, 2, 1}) {
        if (n % kWholePowers[step] == 0) {
            n /= kWholePowers[step];
            zeros += step;
        }
    }
    return zeros;
}

}  // namespace

char *Output::writeDigits(char *at, uint64_t value)
{
    const int count = digitCount(value);
    char *const end = at + count;
    char *digit = end;
    while (value >= 100) {
        digit -= 2;
        std::memcpy(digit, kPairs + 2 * (value % 100), 2);
        value /= 100;
    }
    if (value >= 10)
        std::memcpy(digit - 2, kPairs + 2 * value, 2);
    else
        digit[-1] = static_cast<char>('0' + value);
    return end;
}

char *Output::writeAnyDouble(char *at, double value)
{
    // Every decimal of at most 15 significant digits reads back as a double that no
    // other such decimal reads as. So when the value's nearest decimal of 15 digits
    // reads back as the value, that decimal without its trailing zeros is the shortest
    // form, and only the choice between the plain and the exponent form is left (the
    // plain one unless the other is shorter). Whole numbers below 2^53 are their own
    // digits. The general conversion is left the rest: values that need 16 or 17 digits,
    // the very small and the very large, and those in the exponent form.
    const double magnitude = std::fabs(value);
    if (magnitude < 9007199254740992.0) {
        const auto whole = static_cast<uint64_t>(magnitude);
        if (static_cast<double>(whole) == magnitude) {
            if (whole < 100) {
                if (std::signbit(value))  // "-0" too
                    *at++ = '-';
                return writeSmall(at, whole);
            }
            // For whole = m * 10^z (m without trailing zeros, of s digits) the exponent
            // form is shorter when its s + 4 characters (+ 1 for the point after the
            // first of several digits) are fewer than the s + z digits.
            uint64_t m = whole;
            const int zeros = whole % 10 != 0 ? 0 : stripZeros(m);
            if (zeros == 0 || zeros <= (m > 9 ? 1 : 0) + 4) {
                if (value < 0)
                    *at++ = '-';
                return writeDigits(at, whole);
            }
        } else if (char *end = writeFraction(at, value, magnitude)) {
            return end;
        }
    } else if (magnitude < 18446744073709551616.0) {
        if (char *end = writeLargeWhole(at, value, magnitude))
            return end;
    } else if (!std::isfinite(value)) {
        const std::string_view text = std::isnan(value) ? "nan" : value < 0 ? "-inf" : "inf";
        std::memcpy(at, text.data(), text.size());
        return at + text.size();
    }
    return std::to_chars(at, at + kNumberRoom, value).ptr;
}

char *Output::writeFraction(char *at, double value, double magnitude)
{
    const int whole = magnitude < 1 ? 0 : digitCount(static_cast<uint64_t>(magnitude));  // digits before the point
    if (whole >= 15)
        return nullptr;
    int places = 15 - whole;
    // Below 10^15 the product is off by far less than one half, so rounding it gives
    // the nearest decimal of 15 places' worth; it and the power are exact doubles, and
    // their quotient is the double that decimal reads as.
    uint64_t n = static_cast<uint64_t>(magnitude * kPowers[places] + 0.5);
    if (n == 0 || static_cast<double>(n) / kPowers[places] != magnitude)
        return nullptr;
    places -= stripZeros(n);
    const int count = digitCount(n);
    if (whole == 0 && 2 + places > count + (count > 1 ? 1 : 0) + 4)
        return nullptr;  // "0." and the places are longer than the exponent form
    // The digits end at 24, with room for copies of 16 bytes from any of them.
    char digits[40] = {};
    char *const end = digits + 24;
    char *const start = end - count;
    writeDigits(start, n);
    if (value < 0)
        *at++ = '-';
    if (count > places) {
        // At most 14 digits before the point and 16 bytes after it: within kNumberRoom.
        copyFixed<16>(at, start);
        at += count - places;
        *at++ = '.';
        copyFixed<16>(at, end - places);
        return at + places;
    }
    *at++ = '0';
    *at++ = '.';
    std::memset(at, '0', static_cast<size_t>(places - count));
    at += places - count;
    std::memcpy(at, start, static_cast<size_t>(count));
    return at + count;
}

char *Output::writeLargeWhole(char *at, double value, double magnitude)
{
    // A whole number from 2^53 up to 2^64 prints as its exact digits, unless a decimal
    // of at most 15 digits reads back as it and that decimal's exponent form is shorter.
    const auto whole = static_cast<uint64_t>(magnitude);
    const int count = digitCount(whole);
    const uint64_t unit = kWholePowers[count - 15];
    const uint64_t rest = whole % unit;
    uint64_t n = whole / unit + (rest >= unit - rest ? 1 : 0);
    uint64_t nearest = 0;
    if (!__builtin_mul_overflow(n, unit, &nearest) && static_cast<double>(nearest) == magnitude) {
        stripZeros(n);
        if (count > digitCount(n) + (n > 9 ? 1 : 0) + 4)
            return nullptr;
    }
    if (value < 0)
        *at++ = '-';
    return writeDigits(at, whole);
}

void Output::putFloat(float value)
{
    if (!std::isfinite(value)) {
        putDouble(value);
        return;
    }
    char *at = claim(32);
    used_ += static_cast<size_t>(std::to_chars(at, at + 32, value).ptr - at);
}

void Output::putDoubleRounded(double value, int digits)
{
    if (!std::isfinite(value)) {
        putDouble(value);
        return;
    }
    // Shortest form when it is short enough; otherwise the value cut to `digits`
    // significant digits, whose trailing zeros general format drops.
    char text[48];
    auto result = std::to_chars(text, text + sizeof text, value);
    const size_t shortest = static_cast<size_t>(result.ptr - text);
    size_t significant = 0;
    for (size_t i = 0; i < shortest && text[i] != 'e'; ++i)
        significant += (text[i] >= '0' && text[i] <= '9') ? 1 : 0;
    if (significant > static_cast<size_t>(digits))
        result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits);
    put(std::string_view(text, static_cast<size_t>(result.ptr - text)));
}

char *Output::writeSigned(char *at, int64_t value)
{
    if (value >= 0)
        return writeUnsigned(at, static_cast<uint64_t>(value));
    *at++ = '-';
    return writeDigits(at, 0 - static_cast<uint64_t>(value));
}

void Output::putHex(uint64_t value, int width)
{
    static const char kDigits[] = "0123456789ABCDEF";
    char text[16];
    int n = 0;
    do {
        text[15 - n++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    char *at = claim(32);
    for (int i = n; i < width && i < 16; ++i)
        *at++ = '0', ++used_;
    std::memcpy(at, text + 16 - n, static_cast<size_t>(n));
    used_ += static_cast<size_t>(n);
}

void Output::putJsonString(std::string_view text)
{
    put('"');
    size_t plain = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\' && c != 0x7F)
            continue;
        put(text.substr(plain, i - plain));
        plain = i + 1;
        switch (c) {
        case '"': put("\\\""); break;
        case '\\': put("\\\\"); break;
        case '\n': put("\\n"); break;
        case '\r': put("\\r"); break;
        case '\t': put("\\t"); break;
        default:
            put("\\u00");
            putHex(c, 2);
        }
    }
    put(text.substr(plain));
    put('"');
}

void Output::putCsvField(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        put(text);
        return;
    }
    put('"');
    for (const char c : text) {
        if (c == '"')
            put('"');
        put(c);
    }
    put('"');
}

}  // namespace vexo::cli
