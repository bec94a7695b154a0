#include "coco/xml_scan.h"

#include <array>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace annoxml::detail {
namespace {

enum CharClass : unsigned char { kNameStart = 1, kName = 2, kSpace = 4, kTextStop = 8 };

constexpr std::array<unsigned char, 256> MakeClasses() {
    std::array<unsigned char, 256> classes{};
    for (int c = 'A'; c <= 'Z'; ++c) classes[c] = kNameStart | kName;
    for (int c = 'a'; c <= 'z'; ++c) classes[c] = kNameStart | kName;
    for (int c = '0'; c <= '9'; ++c) classes[c] = kName;
    classes['_'] = classes[':'] = kNameStart | kName;
    classes['-'] = classes['.'] = kName;
    classes[' '] = classes['\t'] = classes['\n'] = classes['\r'] = kSpace;
    // Character data ends at '<'; '&' and '>' in it are left to the parser.
    classes['<'] = classes['&'] = classes['>'] = kTextStop;
    return classes;
}

constexpr std::array<unsigned char, 256> kClasses = MakeClasses();

bool Is(char c, CharClass charClass) {
    return (kClasses[static_cast<unsigned char>(c)] & charClass) != 0;
}

bool IsNameStart(char c) { return Is(c, kNameStart); }

// The position of the first '<', '&' or '>' from `position` on, or the text's size. Character
// data is most of a document, so it is searched sixteen bytes at a time where the processor
// allows.
std::size_t FindTextStop(std::string_view text, std::size_t position) {
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
    while (position < size && !(kClasses[static_cast<unsigned char>(data[position])] & kTextStop)) {
        ++position;
    }
    return position;
}

}  // namespace

bool IsXmlSpace(char c) { return Is(c, kSpace); }

std::size_t SkipDeclaration(std::string_view text) {
    constexpr std::string_view kStart = "<?xml";
    if (text.substr(0, kStart.size()) != kStart) return 0;
    if (text.size() == kStart.size() || !IsXmlSpace(text[kStart.size()])) {
        return std::string_view::npos;
    }
    const std::size_t end = text.find("?>", kStart.size());
    return end == std::string_view::npos ? end : end + 2;
}

// The loops below run over locals: the text is read as chars, which may alias any member, so
// a member counter would be stored and loaded again at every character.
std::size_t XmlScanner::SkipWhile(std::size_t position, unsigned char charClass) const {
    const char* const data = text_.data();
    const std::size_t size = text_.size();
    while (position < size && (kClasses[static_cast<unsigned char>(data[position])] & charClass)) {
        ++position;
    }
    return position;
}

bool XmlScanner::ReadName(std::string_view& name) {
    const std::size_t start = position_;
    if (start >= text_.size() || !IsNameStart(text_[start])) return false;
    position_ = SkipWhile(start + 1, kName);
    name = text_.substr(start, position_ - start);
    return true;
}

XmlScanner::Token XmlScanner::Next() {
    tokenStart_ = position_;
    if (position_ >= text_.size()) return Token::End;
    if (text_[position_] != '<') {
        const std::size_t end = FindTextStop(text_, position_);
        if (end < text_.size() && text_[end] != '<') return Token::Unsupported;
        run_ = text_.substr(position_, end - position_);
        position_ = end;
        return Token::Text;
    }
    ++position_;
    if (position_ < text_.size() && text_[position_] == '/') {
        ++position_;
        return ReadCloseTag();
    }
    return ReadOpenTag();
}

XmlScanner::Token XmlScanner::ReadCloseTag() {
    if (!ReadName(name_)) return Token::Unsupported;
    position_ = SkipWhile(position_, kSpace);
    if (position_ >= text_.size() || text_[position_] != '>') return Token::Unsupported;
    ++position_;
    return Token::Close;
}

// name (space+ name="value" | space+ name='value')* space* ("/>" | ">")
XmlScanner::Token XmlScanner::ReadOpenTag() {
    if (!ReadName(name_)) return Token::Unsupported;
    const std::size_t attributesStart = position_;
    for (;;) {
        const std::size_t spaceStart = position_;
        position_ = SkipWhile(position_, kSpace);
        if (position_ >= text_.size()) return Token::Unsupported;
        const char c = text_[position_];
        if (c == '>' || c == '/') {
            attributes_ = text_.substr(attributesStart, position_ - attributesStart);
            closesItself_ = c == '/';
            if (closesItself_ && (++position_ >= text_.size() || text_[position_] != '>')) {
                return Token::Unsupported;
            }
            ++position_;
            return Token::Open;
        }
        std::string_view attribute;
        if (position_ == spaceStart || !ReadName(attribute)) return Token::Unsupported;
        if (position_ + 1 >= text_.size() || text_[position_] != '=') return Token::Unsupported;
        const char quote = text_[position_ + 1];
        if (quote != '"' && quote != '\'') return Token::Unsupported;
        const std::size_t valueStart = position_ + 2;
        const std::size_t valueEnd = text_.find(quote, valueStart);
        if (valueEnd == std::string_view::npos) return Token::Unsupported;
        const std::string_view value = text_.substr(valueStart, valueEnd - valueStart);
        // References are left to the parser, and '<' is no part of a well-formed value.
        if (value.find_first_of("&<") != std::string_view::npos) return Token::Unsupported;
        position_ = valueEnd + 1;
    }
}

std::string AttributeValue(std::string_view attributes, std::string_view name) {
    std::size_t position = 0;
    while (position < attributes.size()) {
        while (position < attributes.size() && IsXmlSpace(attributes[position])) ++position;
        const std::size_t nameEnd = attributes.find('=', position);
        if (nameEnd == std::string_view::npos) return "";
        const char quote = attributes[nameEnd + 1];
        const std::size_t valueEnd = attributes.find(quote, nameEnd + 2);
        if (attributes.substr(position, nameEnd - position) == name) {
            const std::string_view raw = attributes.substr(nameEnd + 2, valueEnd - nameEnd - 2);
            std::string value;
            value.reserve(raw.size());
            for (std::size_t i = 0; i < raw.size(); ++i) {
                if (!IsXmlSpace(raw[i])) {
                    value += raw[i];
                    continue;
                }
                value += ' ';
                if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
            }
            return value;
        }
        position = valueEnd + 1;
    }
    return "";
}

bool TextValue(std::string_view raw, std::string_view& value, std::string& scratch) {
    std::size_t i = 0;
    while (i < raw.size() && IsXmlSpace(raw[i])) ++i;
    if (i == raw.size()) return false;
    if (raw.find('\r') == std::string_view::npos) {
        value = raw;
        return true;
    }
    scratch.clear();
    for (std::size_t j = 0; j < raw.size(); ++j) {
        if (raw[j] != '\r') {
            scratch += raw[j];
            continue;
        }
        scratch += '\n';
        if (j + 1 < raw.size() && raw[j + 1] == '\n') ++j;
    }
    value = scratch;
    return true;
}

}  // namespace annoxml::detail
