// The character classes of the plain XML that the scanners read.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace annoxml::detail {

enum XmlCharClass : unsigned char {
    kXmlNameStart = 1,
    kXmlName = 2,
    kXmlSpace = 4,
    // Character data ends at '<'; '&' and '>' in it are left to the parser.
    kXmlTextStop = 8,
    // An attribute value ends at its quote; '&' and '<' in it are left to the parser, white
    // space other than ' ' is rewritten, and a NUL byte ends a text.
    kXmlValueStop = 16,
};

constexpr std::array<unsigned char, 256> MakeXmlCharClasses() {
    std::array<unsigned char, 256> classes{};
    for (int c = 'A'; c <= 'Z'; ++c) classes[c] = kXmlNameStart | kXmlName;
    for (int c = 'a'; c <= 'z'; ++c) classes[c] = kXmlNameStart | kXmlName;
    for (int c = '0'; c <= '9'; ++c) classes[c] = kXmlName;
    classes['_'] = classes[':'] = kXmlNameStart | kXmlName;
    classes['-'] = classes['.'] = kXmlName;
    classes[' '] = kXmlSpace;
    classes['\t'] = classes['\n'] = classes['\r'] = kXmlSpace | kXmlValueStop;
    classes['<'] = kXmlTextStop | kXmlValueStop;
    classes['&'] = kXmlTextStop | kXmlValueStop;
    classes['>'] = kXmlTextStop;
    classes['"'] = classes['\''] = classes['\0'] = kXmlValueStop;
    return classes;
}

inline constexpr std::array<unsigned char, 256> kXmlCharClasses = MakeXmlCharClasses();

inline bool IsXmlClass(char c, XmlCharClass charClass) {
    return (kXmlCharClasses[static_cast<unsigned char>(c)] & charClass) != 0;
}

// The position of the first '<', '&' or '>' from `position` on, or the text's size. Character
// data is most of a document, so it is searched sixteen bytes at a time where the processor
// allows.
inline std::size_t FindTextStop(std::string_view text, std::size_t position) {
    const char* const data = text.data();
    const std::size_t size = text.size();
#ifdef __SSE2__
    const __m128i less = _mm_set1_epi8('<');
    const __m128i ampersand = _mm_set1_epi8('&');
    const __m128i greater = _mm_set1_epi8('>');
    for (; position + 16 <= size; position += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + position));
        const __m128i stops = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(block, less), _mm_cmpeq_epi8(block, ampersand)),
            _mm_cmpeq_epi8(block, greater));
        if (const int mask = _mm_movemask_epi8(stops)) {
            return position + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        }
    }
#endif
    while (position < size && !IsXmlClass(data[position], kXmlTextStop)) ++position;
    return position;
}

}  // namespace annoxml::detail
