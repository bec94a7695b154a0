#include "reader/xml_scan.h"

#include "reader/xml_chars.h"

namespace annoxml::detail {
namespace {

bool IsNameStart(char c) { return IsXmlClass(c, kXmlNameStart); }

}  // namespace

bool IsXmlSpace(char c) { return IsXmlClass(c, kXmlSpace); }

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
    while (position < size &&
           (kXmlCharClasses[static_cast<unsigned char>(data[position])] & charClass)) {
        ++position;
    }
    return position;
}

bool XmlScanner::ReadName(std::string_view& name) {
    const std::size_t start = position_;
    if (start >= text_.size() || !IsNameStart(text_[start])) return false;
    position_ = SkipWhile(start + 1, kXmlName);
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
    position_ = SkipWhile(position_, kXmlSpace);
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
        position_ = SkipWhile(position_, kXmlSpace);
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
            return AttributeValueAsParsed(attributes.substr(nameEnd + 2, valueEnd - nameEnd - 2));
        }
        position = valueEnd + 1;
    }
    return "";
}

std::string AttributeValueAsParsed(std::string_view raw) {
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

}  // namespace annoxml::detail
