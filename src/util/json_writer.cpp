#include "util/json_writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

#include <nlohmann/json.hpp>

namespace annoxml::detail {
namespace {

constexpr std::size_t kMaxNumberLength = 64;
// Texts up to this size, nearly all of them, are copied after one check for room.
constexpr std::size_t kShortText = 512;

// The scales of 0 to 8 decimal places that a short decimal may have.
constexpr double kDecimalPlaceScales[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
constexpr double kMaxShortDigits = 1e15;
// The library's limits for fixed notation (to_chars: -4 and digits10).
constexpr int kMinFixedExponent = -4;
constexpr int kMaxFixedExponent = 15;

// How far from `magnitude`, a normal double of 2^-970 or more, a decimal may lie and still be
// written by Grisu2: within half an ulp on either side, less the tiny fraction of an ulp by which
// Grisu2 narrows the interval; below a power of two the interval is half as wide, a quarter of
// the ulp above.
double EdgeMargin(double magnitude) {
    constexpr std::uint64_t kFractionBits = (std::uint64_t{1} << 52) - 1;
    std::uint64_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    // The ulp: the exponent 52 binary places lower, without fraction.
    const std::uint64_t ulpBits = (bits & ~kFractionBits) - (std::uint64_t{52} << 52);
    double ulp;
    std::memcpy(&ulp, &ulpBits, sizeof ulp);
    return ((bits & kFractionBits) == 0 ? 0.2 : 0.45) * ulp;
}

// Times 1e8, a value read from a decimal with at most 8 places lies within about 2^-52 of itself
// from an integer: one rounding error from reading it, one from the multiplication. Most other
// values lie much farther from one, and are told apart by one multiplication here instead of a
// division per place below. The answer only ever sends a value to the library's own formatting.
bool FarFromShortDecimal(double magnitude) {
    const double scaled = magnitude * 1e8;
    if (!(scaled < 0x1p49)) return false;  // the margin below would reach half an integer
    const double nearest = (scaled + 0x1p52) - 0x1p52;
    return std::fabs(scaled - nearest) > scaled * 0x1p-50;
}

// Coordinates are mostly short decimals. When the decimal D with at most 15 digits and at most 8
// places that `value` reads from exists, it is the only decimal of 15 digits or fewer that reads
// as `value`, and the library's Grisu2 writes exactly its digits, provided that D does not lie at
// the very edge of value's rounding interval (Grisu2 narrows the interval by a tiny fraction of
// an ulp). So: find D, prove it reads as `value` (one correctly rounded division), require a wide
// margin from the edge (the exact remainder from fma), and lay the digits out with the library's
// own format_buffer. Anything else goes through the library's to_chars.
bool WriteShortDecimal(double value, char*& out) {
    const double magnitude = std::fabs(value);
    if (!(magnitude >= 1e-8 && magnitude < kMaxShortDigits)) return false;
    if (FarFromShortDecimal(magnitude)) return false;
    for (int places = 0; places < static_cast<int>(std::size(kDecimalPlaceScales)); ++places) {
        const double scale = kDecimalPlaceScales[places];
        const double scaled = magnitude * scale;
        if (scaled >= kMaxShortDigits) return false;
        // Rounded without a library call; a wrong guess only fails the check below.
        const auto digits = static_cast<double>(static_cast<std::int64_t>(scaled + 0.5));
        if (digits / scale != magnitude) continue;
        const double remainder = std::fma(-magnitude, scale, digits);
        if (std::fabs(remainder) > EdgeMargin(magnitude) * scale) return false;
        auto integer = static_cast<std::uint64_t>(digits);
        int exponent = -places;
        while (integer % 10 == 0) {
            integer /= 10;
            ++exponent;
        }
        if (std::signbit(value)) *out++ = '-';
        char* const end = std::to_chars(out, out + kMaxNumberLength - 1, integer).ptr;
        out = nlohmann::detail::dtoa_impl::format_buffer(out, static_cast<int>(end - out), exponent,
                                                         kMinFixedExponent, kMaxFixedExponent);
        return true;
    }
    return false;
}

// Below 1e5, fixed notation is never longer than scientific (10000 and 1e+04 tie, and to_chars
// then takes fixed), so whole hundredths there are written digit by digit: most numbers of a data
// set are image coordinates.
constexpr double kMaxSmallHundredths = 1e5;

// A sign, five digits, a point and four: the longest number that Numbers() writes the short way.
// It makes room for runs of up to kMaxRun of them at a time.
constexpr std::size_t kMaxSmallNumber = 11;
constexpr std::size_t kMaxRun = 64;

// Whole hundredths below 1e5, nearly every coordinate of a data set, take the short way.
bool IsSmallHundredths(double value, std::uint32_t& hundredths) {
    const double magnitude = std::fabs(value);
    const double rounded = (magnitude * 100 + 0x1p52) - 0x1p52;  // rounded to an integer
    if (!(magnitude < kMaxSmallHundredths && rounded / 100 == magnitude)) return false;
    hundredths = static_cast<std::uint32_t>(rounded);
    return true;
}

// "00" to "99": digits are written two at a time.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* WritePair(std::uint32_t pair, char* out) {
    std::memcpy(out, kDigitPairs + 2 * pair, 2);
    return out + 2;
}

// Writes 0 <= whole < 1e5.
char* WriteSmallWhole(std::uint32_t whole, char* out) {
    if (whole < 100) {
        if (whole >= 10) return WritePair(whole, out);
        *out = static_cast<char>('0' + whole);
        return out + 1;
    }
    if (whole >= 10000) {
        *out++ = static_cast<char>('0' + whole / 10000);
        whole %= 10000;
        return WritePair(whole % 100, WritePair(whole / 100, out));
    }
    const std::uint32_t high = whole / 100;
    if (high >= 10) {
        out = WritePair(high, out);
    } else {
        *out++ = static_cast<char>('0' + high);
    }
    return WritePair(whole % 100, out);
}

// Writes k / 100 for 0 <= k < 1e7 in fixed notation, without trailing zeros.
char* WriteSmallHundredths(bool negative, std::uint32_t hundredths, char* out) {
    const std::uint32_t fraction = hundredths % 100;
    if (negative) *out++ = '-';
    out = WriteSmallWhole(hundredths / 100, out);
    if (fraction != 0) {
        *out++ = '.';
        std::memcpy(out, kDigitPairs + 2 * fraction, 2);
        out += fraction % 10 != 0 ? 2 : 1;
    }
    return out;
}

// Whole ten-thousandths below 1e5 (integers, halves, quarters, eighths: most coordinates that
// annotation tools write) in the library's form, digit by digit: fixed notation, ".0" after an
// integer. WriteShortDecimal's reasoning holds for them: the decimal k / 1e4 that reads as
// `value` is the only one of 15 digits or fewer that does, and Grisu2 writes it when it lies
// well inside value's rounding interval.
bool WriteSmallDecimal(double value, char*& out) {
    constexpr double kScale = 1e4;
    const double magnitude = std::fabs(value);
    if (!(magnitude < 1e5)) return false;  // five whole digits at most, as WriteSmallWhole writes
    const double digits = (magnitude * kScale + 0x1p52) - 0x1p52;  // rounded to an integer
    if (digits / kScale != magnitude) return false;
    if (magnitude != 0 &&
        std::fabs(std::fma(-magnitude, kScale, digits)) > EdgeMargin(magnitude) * kScale) {
        return false;
    }
    const auto tenThousandths = static_cast<std::uint32_t>(digits);
    if (std::signbit(value)) *out++ = '-';
    out = WriteSmallWhole(tenThousandths / 10000, out);
    *out++ = '.';
    const std::uint32_t fraction = tenThousandths % 10000;
    const std::uint32_t high = fraction / 100;
    const std::uint32_t low = fraction % 100;
    WritePair(low, WritePair(high, out));
    // Without trailing zeros, but for the one after an integer.
    out += low != 0 ? (low % 10 != 0 ? 4 : 3) : (high % 10 != 0 ? 2 : 1);
    return true;
}

// Whole hundredths, as file coordinates and sampled vertices nearly always are, written as
// std::to_chars writes them but without its general search. When k / 100 reads as `value` and k
// has at most 15 digits, k / 100 is the only decimal of 15 digits or fewer that does (they lie
// 1e-15 of the value apart, a double's interval is 2.2e-16 of it wide), so it is the shortest;
// to_chars then writes it in fixed notation unless scientific is shorter (left to to_chars).
bool WriteHundredths(double value, char*& out) {
    const double magnitude = std::fabs(value);
    if (!(magnitude < 1e12)) return false;
    const double hundredths = (magnitude * 100 + 0x1p52) - 0x1p52;  // rounded to an integer
    if (hundredths / 100 != magnitude) return false;
    auto digits = static_cast<std::uint64_t>(hundredths);
    int exponent = -2;
    if (digits == 0) exponent = 0;
    while (digits != 0 && digits % 10 == 0) {
        digits /= 10;
        ++exponent;
    }
    char text[24];
    const int count = static_cast<int>(std::to_chars(text, text + sizeof text, digits).ptr - text);
    const int fixedLength = exponent >= 0       ? count + exponent
                            : count > -exponent ? count + 1
                                                : 2 - exponent;
    const int scientificExponent = count - 1 + exponent;
    const int scientificLength =
        count + (count > 1 ? 1 : 0) + 2 + (std::abs(scientificExponent) >= 100 ? 3 : 2);
    if (scientificLength < fixedLength) return false;
    if (std::signbit(value)) *out++ = '-';
    if (exponent >= 0) {
        std::memcpy(out, text, static_cast<std::size_t>(count));
        std::memset(out + count, '0', static_cast<std::size_t>(exponent));
        out += count + exponent;
    } else if (count > -exponent) {
        const int whole = count + exponent;
        std::memcpy(out, text, static_cast<std::size_t>(whole));
        out[whole] = '.';
        std::memcpy(out + whole + 1, text + whole, static_cast<std::size_t>(-exponent));
        out += count + 1;
    } else {
        *out++ = '0';
        *out++ = '.';
        std::memset(out, '0', static_cast<std::size_t>(-exponent - count));
        out += -exponent - count;
        std::memcpy(out, text, static_cast<std::size_t>(count));
        out += count;
    }
    return true;
}

// A line break and indent: a fixed-size copy of it, which compiles to a few stores, covers the
// usual depths.
constexpr char kLine[64] = "\n                                                              ";

// Printable ASCII without '"' and '\\': copied as it stands by dump().
constexpr std::array<bool, 256> MakePlainCharacters() {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c <= 0x7E; ++c) plain[c] = c != '"' && c != '\\';
    return plain;
}

constexpr std::array<bool, 256> kPlainCharacters = MakePlainCharacters();

bool NeedsNoEscape(std::string_view text) {
    for (const char c : text) {
        if (!kPlainCharacters[static_cast<unsigned char>(c)]) return false;
    }
    return true;
}

}  // namespace

JsonWriter::JsonWriter(int indent, int depth, NumberForm numbers)
    : indent_(indent), depth_(static_cast<std::size_t>(depth < 0 ? 0 : depth)), numbers_(numbers) {
    Grow(1 << 12);
}

void JsonWriter::Clear() {
    used_ = 0;
    outerEmpty_.clear();
    open_ = 0;
    empty_ = false;
    afterKey_ = false;
}

void JsonWriter::MakeRoom(std::size_t bytes) { Grow(used_ + bytes); }

void JsonWriter::Grow(std::size_t bytes) {
    if (bytes <= capacity_) return;
    const std::size_t capacity = std::max(bytes, capacity_ * 2);
    std::unique_ptr<char[]> grown(new char[capacity]);
    if (used_ > 0) std::memcpy(grown.get(), buffer_.get(), used_);
    buffer_ = std::move(grown);
    capacity_ = capacity;
}

void JsonWriter::Append(std::string_view bytes) {
    while (!bytes.empty()) {
        Reserve(1);
        const std::size_t n = std::min(bytes.size(), capacity_ - used_);
        std::memcpy(buffer_.get() + used_, bytes.data(), n);
        used_ += n;
        bytes.remove_prefix(n);
    }
}

void JsonWriter::NewLine(std::size_t level) {
    const std::size_t pad = (depth_ + level) * static_cast<std::size_t>(indent_);
    if (pad + 1 < sizeof kLine) {
        Reserve(sizeof kLine);
        std::memcpy(buffer_.get() + used_, kLine, sizeof kLine);
        used_ += pad + 1;
        return;
    }
    Reserve(pad + 1);
    char* const out = buffer_.get() + used_;
    *out = '\n';
    std::memset(out + 1, ' ', pad);
    used_ += pad + 1;
}

void JsonWriter::Open(char bracket) {
    BeginItem();
    Reserve(1);
    buffer_[used_++] = bracket;
    if (open_ > 0) outerEmpty_.push_back(empty_);
    ++open_;
    empty_ = true;
}

void JsonWriter::Close(char bracket) {
    --open_;
    if (!empty_ && indent_ >= 0) NewLine(open_);
    Reserve(1);
    buffer_[used_++] = bracket;
    if (open_ > 0) {
        empty_ = outerEmpty_.back();
        outerEmpty_.pop_back();
    }
}

void JsonWriter::Scalar(std::string_view text) {
    BeginItem();
    Append(text);
}

void JsonWriter::Integer(long long value) {
    BeginItem();
    Reserve(kMaxNumberLength);
    char* const out = buffer_.get() + used_;
    used_ += static_cast<std::size_t>(std::to_chars(out, out + kMaxNumberLength, value).ptr - out);
}

// dump() writes doubles with the library's own shortest round-trip formatting, and non-finite
// values as null.
void JsonWriter::Number(double value) {
    if (!std::isfinite(value)) {
        Null();
        return;
    }
    BeginItem();
    Reserve(kMaxNumberLength);
    char* const start = buffer_.get() + used_;
    char* out = start;
    if (WriteSmallNumber(value, out)) {
        // most coordinates
    } else if (numbers_ == NumberForm::Shortest) {
        // Fixed or scientific notation, whichever is shorter; both are JSON numbers.
        if (!WriteHundredths(value, out)) {
            out = std::to_chars(start, start + kMaxNumberLength, value).ptr;
        }
    } else if (!WriteShortDecimal(value, out)) {
        out = nlohmann::detail::to_chars(start, start + kMaxNumberLength, value);
    }
    used_ += static_cast<std::size_t>(out - start);
}

bool JsonWriter::WriteSmallNumber(double value, char*& out) const {
    if (numbers_ == NumberForm::Library) return WriteSmallDecimal(value, out);
    std::uint32_t hundredths = 0;
    if (!IsSmallHundredths(value, hundredths)) return false;
    out = WriteSmallHundredths(std::signbit(value), hundredths, out);
    return true;
}

void JsonWriter::Numbers(const double* values, std::size_t count) {
    const std::size_t pad = indent_ < 0 ? 0 : (depth_ + open_) * static_cast<std::size_t>(indent_);
    if (open_ == 0 || afterKey_ || pad + 1 >= sizeof kLine) {
        for (std::size_t i = 0; i < count; ++i) Number(values[i]);
        return;
    }
    // Runs of numbers that take the short way, each after its separator and line, with one
    // check for room a run; any other number is written by Number().
    const std::size_t line = indent_ < 0 ? 0 : pad + 1;
    std::size_t i = 0;
    while (i < count) {
        const std::size_t end = std::min(count, i + kMaxRun);
        Reserve((end - i) * (1 + sizeof kLine + kMaxSmallNumber));
        char* out = buffer_.get() + used_;
        for (; i < end; ++i) {
            char* const item = out;
            if (!empty_) *out++ = ',';
            if (line != 0) {
                std::memcpy(out, kLine, sizeof kLine);
                out += line;
            }
            if (!WriteSmallNumber(values[i], out)) {
                out = item;
                break;
            }
            empty_ = false;
        }
        used_ = static_cast<std::size_t>(out - buffer_.get());
        if (i < end) Number(values[i++]);
    }
}

void JsonWriter::String(std::string_view text) {
    BeginItem();
    if (NeedsNoEscape(text)) {
        if (text.size() <= kShortText) {
            Reserve(text.size() + 2);
            char* out = buffer_.get() + used_;
            *out++ = '"';
            std::memcpy(out, text.data(), text.size());
            out[text.size()] = '"';
            used_ += text.size() + 2;
            return;
        }
        Reserve(1);
        buffer_[used_++] = '"';
        Append(text);
        Reserve(1);
        buffer_[used_++] = '"';
        return;
    }
    // Escapes and UTF-8 checks as the library does them, for the rare text that needs either.
    Append(nlohmann::ordered_json(std::string(text)).dump());
}

}  // namespace annoxml::detail
