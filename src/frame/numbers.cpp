#include "frame/numbers.h"

#include <charconv>
#include <climits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "util/points.h"

namespace annoxml::detail {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The first position from `i` on of a byte outside ASCII, or the text's size. Most text is ASCII,
// so it is searched a block of bytes at a time.
std::size_t AsciiEnd(std::string_view text, std::size_t i) {
    const char* const data = text.data();
    const std::size_t size = text.size();
#ifdef __SSE2__
    for (; i + 16 <= size; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        if (const int high = _mm_movemask_epi8(block)) {
            return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(high)));
        }
    }
#endif
    while (i < size && static_cast<unsigned char>(data[i]) < 0x80) ++i;
    return i;
}

}  // namespace

std::string_view Trimmed(std::string_view text) {
    std::size_t first = 0;
    std::size_t end = text.size();
    while (first < end && IsSpace(text[first])) ++first;
    while (end > first && IsSpace(text[end - 1])) --end;
    return text.substr(first, end - first);
}

std::optional<double> ParseNumber(std::string_view text) {
    text = Trimmed(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        // One sign only: "+-4" is no number, though "-4" after it would read.
        if (!text.empty() && text.front() == '-') return std::nullopt;
    }
    if (text.empty() || text.front() == '+') {
        return std::nullopt;
    }
    double value = 0;
    const char* p = text.data();
    if (ReadPlainDecimal(p, text.data() + text.size(), value) && p == text.data() + text.size()) {
        return value;
    }
    // from_chars does not depend on the locale; it also reads "inf" and "nan", which the
    // callers reject as not finite.
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> ParsePositiveInt(std::string_view text) {
    text = Trimmed(text);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value <= 0) {
        return std::nullopt;
    }
    return value;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        i = AsciiEnd(text, i);
        if (i == text.size()) break;
        const unsigned char lead = text[i];
        std::size_t length = 0;
        unsigned long value = 0;
        unsigned long minimum = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, value = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, value = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, value = lead & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = text[i + k];
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            value = (value << 6) | (next & 0x3F);
        }
        if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace annoxml::detail
