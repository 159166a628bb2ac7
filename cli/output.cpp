// Buffered output with std::to_chars number formatting.
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

void Output::putDouble(double value)
{
    if (!std::isfinite(value)) {
        put(std::isnan(value) ? "nan" : value < 0 ? "-inf" : "inf");
        return;
    }
    // Whole numbers below 2^53 print as their digits where the shortest form is those
    // digits, at a fraction of the general conversion's cost (signals with factor 1 are
    // common). The shortest form takes the exponent form only when it is shorter: for
    // n = m * 10^z (m without trailing zeros, s digits), when s + 4 characters (+ 1 for
    // the point after the first of several digits) are fewer than the s + z digits.
    if (value > -9007199254740992.0 && value < 9007199254740992.0) {
        const auto whole = static_cast<int64_t>(value);
        if (static_cast<double>(whole) == value) {
            if (whole % 10 != 0) {
                putSigned(whole);
                return;
            }
            if (whole == 0) {
                put(std::signbit(value) ? "-0" : "0");
                return;
            }
            uint64_t m = whole < 0 ? 0 - static_cast<uint64_t>(whole) : static_cast<uint64_t>(whole);
            int zeros = 0, digits = 0;
            for (; m % 10 == 0; m /= 10)
                ++zeros;
            for (; m != 0; m /= 10)
                ++digits;
            if (zeros <= (digits > 1 ? 1 : 0) + 4) {
                putSigned(whole);
                return;
            }
        } else if (putDecimal(value)) {
            return;
        }
    }
    char *at = reserve(32);
    used_ += static_cast<size_t>(std::to_chars(at, at + 32, value).ptr - at);
}

bool Output::putDecimal(double value)
{
    // Values with one to four decimals (scaled signals: 0.25, 12.5, -40.05) print from an
    // integer n: when n / 10^k reads back as this double, that decimal (at most 15 digits)
    // is its shortest form, as no other decimal of at most 15 digits reads as the same
    // double. Written out it is no longer than with an exponent from 1 up, and below 1
    // while the k places hold at most two more characters than the digits of n do.
    static constexpr double kScales[] = {1e1, 1e2, 1e3, 1e4};
    static constexpr uint64_t kWhole[] = {1, 10, 100, 1000, 10000};
    for (int k = 1; k <= 4; ++k) {
        const double scaled = value * kScales[k - 1];
        if (!(scaled > -1e15 && scaled < 1e15))
            return false;
        const auto n = static_cast<int64_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
        if (static_cast<double>(n) / kScales[k - 1] != value)
            continue;
        if (n % 10 == 0)
            return false;  // a shorter k would have read back: leave it to the general form
        const uint64_t magnitude = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
        if (magnitude < kWhole[k]) {  // below 1: "0." and k places against the exponent form
            int own = 0;
            for (uint64_t m = magnitude; m != 0; m /= 10)
                ++own;
            if (2 + k > own + (own > 1 ? 1 : 0) + 4)
                return false;
        }
        char digits[24];  // least significant first, at least one before the point
        int count = 0;
        uint64_t m = magnitude;
        do {
            digits[count++] = static_cast<char>('0' + m % 10);
            m /= 10;
        } while (m != 0 || count <= k);
        char *at = reserve(32);
        if (n < 0)
            *at++ = '-';
        for (int i = count - 1; i >= 0; --i) {
            *at++ = digits[i];
            if (i == k)
                *at++ = '.';
        }
        used_ = static_cast<size_t>(at - buffer_);
        return true;
    }
    return false;
}

void Output::putFloat(float value)
{
    if (!std::isfinite(value)) {
        putDouble(value);
        return;
    }
    char *at = reserve(32);
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

void Output::putUnsigned(uint64_t value)
{
    char *at = reserve(24);
    used_ += static_cast<size_t>(std::to_chars(at, at + 24, value).ptr - at);
}

void Output::putSigned(int64_t value)
{
    char *at = reserve(24);
    used_ += static_cast<size_t>(std::to_chars(at, at + 24, value).ptr - at);
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
    char *at = reserve(32);
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
