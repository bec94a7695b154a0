#include "reader/declared_encoding.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "platform/platform.h"
#include "reader/load.h"

namespace annoxml::detail {
namespace {

// Names the parser decodes itself, or that are read as UTF-8 as they stand.
constexpr std::array<std::string_view, 14> kParserEncodings = {
    "utf-8",    "utf8",       "utf-16", "utf-16le", "utf-16be", "utf-32", "utf-32le",
    "utf-32be", "iso-8859-1", "latin1", "us-ascii", "ascii",    "ucs-2",  "ucs-4"};

bool IsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
// What the parser takes as part of the encoding name.
bool IsSymbol(unsigned char c) {
    return IsLetter(c) || IsDigit(c) || c == '_' || c == '-' || c == '.' || c == ':' || c >= 0x80;
}
// An encoding name as XML defines it: a letter, then letters, digits, ".", "_" and "-".
bool IsEncodingName(std::string_view name) {
    if (name.empty() || !IsLetter(name[0])) return false;
    for (const unsigned char c : name) {
        if (!IsLetter(c) && !IsDigit(c) && c != '.' && c != '_' && c != '-') return false;
    }
    return true;
}
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

bool ParserDecodes(std::string_view encoding) {
    for (const std::string_view known : kParserEncodings) {
        if (EqualsIgnoringCase(encoding, known)) return true;
    }
    return false;
}

// Reads a declaration the way the parser does when it guesses the encoding: "<?xml" and white
// space at the very start, then the first "en" before any "?" must begin the encoding
// pseudo-attribute.
class DeclarationScanner {
  public:
    explicit DeclarationScanner(std::string_view text) : text_(text) {}

    std::optional<std::string_view> Encoding() {
        if (text_.size() < 6 || text_.substr(0, 5) != "<?xml" || !IsSpace(text_[5])) return {};
        for (at_ = 6; at_ + 1 < text_.size(); ++at_) {
            if (text_[at_] == '?') return {};
            if (text_[at_] == 'e' && text_[at_ + 1] == 'n') return EncodingValue();
        }
        return {};
    }

  private:
    std::optional<std::string_view> EncodingValue() {
        if (text_.substr(at_, 8) != "encoding") return {};
        at_ += 8;
        SkipSpace();
        if (!Take('=')) return {};
        SkipSpace();
        const char quote = at_ < text_.size() && text_[at_] == '"' ? '"' : '\'';
        if (!Take(quote)) return {};
        const std::size_t begin = at_;
        while (at_ < text_.size() && IsSymbol(text_[at_])) ++at_;
        const std::size_t end = at_;
        if (!Take(quote)) return {};
        return text_.substr(begin, end - begin);
    }

    void SkipSpace() {
        while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
    }
    bool Take(char c) {
        if (at_ >= text_.size() || text_[at_] != c) return false;
        ++at_;
        return true;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

bool StartsWith(std::string_view text, std::initializer_list<unsigned char> bytes) {
    if (text.size() < bytes.size()) return false;
    std::size_t i = 0;
    for (const unsigned char byte : bytes) {
        if (static_cast<unsigned char>(text[i++]) != byte) return false;
    }
    return true;
}

// A converter from `encoding`; the loading error "unsupported encoding NAME" when there is none.
std::unique_ptr<platform::ToUtf8Converter> ConverterFrom(const std::string& encoding) {
    std::unique_ptr<platform::ToUtf8Converter> converter = platform::OpenToUtf8Converter(encoding);
    if (!converter) FailToLoad("unsupported encoding " + encoding);
    return converter;
}

[[noreturn]] void FailAt(const std::string& encoding, std::string_view text, std::size_t offset,
                         int error) {
    if (error == EINVAL) {
        FailToLoad("text ends inside a " + encoding + " character");
    }
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(text[offset]));
    FailToLoad("invalid " + encoding + " byte " + byte + " at offset " + std::to_string(offset));
}

}  // namespace

bool ParserReadsAsUtf8(std::string_view document) {
    if (document.size() < 4) return true;
    // Byte order marks and "<" or "<?" in UTF-16 and UTF-32, as the parser looks for them.
    static const std::initializer_list<unsigned char> kWideStarts[] = {
        {0, 0, 0xFE, 0xFF}, {0xFF, 0xFE, 0, 0}, {0xFE, 0xFF},     {0xFF, 0xFE}, {0, 0, 0, '<'},
        {'<', 0, 0, 0},     {0, '<', 0, '?'},   {'<', 0, '?', 0}, {0, '<'},     {'<', 0}};
    if (StartsWith(document, {0xEF, 0xBB, 0xBF})) return true;
    for (const auto& start : kWideStarts) {
        if (StartsWith(document, start)) return false;
    }
    const std::optional<std::string_view> encoding = DeclarationScanner(document).Encoding();
    return !encoding || !(EqualsIgnoringCase(*encoding, "iso-8859-1") ||
                          EqualsIgnoringCase(*encoding, "latin1"));
}

std::optional<std::string> EncodingToTranscode(std::string_view document) {
    const std::optional<std::string_view> encoding = DeclarationScanner(document).Encoding();
    if (!encoding || !IsEncodingName(*encoding) || ParserDecodes(*encoding)) return std::nullopt;
    return std::string(*encoding);
}

// ParserReadsAsUtf8 and no EncodingToTranscode, with one look at the declaration: of the wide
// starts, only the two-byte marks have no NUL byte.
bool ParserReadsAsItIs(std::string_view document) {
    if (document.find('\0') != std::string_view::npos) return false;
    if (document.size() >= 4 &&
        (StartsWith(document, {0xFE, 0xFF}) || StartsWith(document, {0xFF, 0xFE}))) {
        return false;
    }
    // The declaration that nearly every annotation file starts with.
    for (const std::string_view usual : {"<?xml version=\"1.0\" encoding=\"utf-8\"?>",
                                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"}) {
        if (document.substr(0, usual.size()) == usual) return true;
    }
    const std::optional<std::string_view> encoding = DeclarationScanner(document).Encoding();
    if (!encoding) return true;
    if (EqualsIgnoringCase(*encoding, "iso-8859-1") || EqualsIgnoringCase(*encoding, "latin1")) {
        return false;
    }
    return !IsEncodingName(*encoding) || ParserDecodes(*encoding);
}

std::string TranscodeToUtf8(const std::string& encoding, std::string_view text) {
    const std::unique_ptr<platform::ToUtf8Converter> converter = ConverterFrom(encoding);
    std::string result(text.size() + text.size() / 2 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    std::size_t used = 0;
    // The last round, with no input, ends a stateful encoding's shift sequence.
    for (bool flushing = false;;) {
        char* out = result.data() + used;
        std::size_t outLeft = result.size() - used;
        const int error = flushing ? converter->Convert(nullptr, nullptr, &out, &outLeft)
                                   : converter->Convert(&in, &inLeft, &out, &outLeft);
        used = result.size() - outLeft;
        if (error == E2BIG) {
            result.resize(result.size() * 2);
        } else if (error != 0) {
            FailAt(encoding, text, text.size() - inLeft, error);
        } else if (!flushing) {
            flushing = true;
        } else {
            break;
        }
    }
    result.resize(used);
    return result;
}

}  // namespace annoxml::detail
