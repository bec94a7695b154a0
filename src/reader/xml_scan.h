// A strict reader of the plain XML that annotation tools write, for the conversion's fast path:
// an optional XML declaration, then one root element of elements with quoted attributes and
// character data. Anything else (comments, CDATA sections, document types, processing
// instructions, entity and character references, NUL bytes, names outside ASCII, mismatched
// tags...) is reported as unsupported, and the document goes to the full parser instead. What it
// accepts, the full parser reads to the same elements, attributes and texts.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "reader/xml_chars.h"

namespace annoxml::detail {

class XmlScanner {
  public:
    enum class Token { Open, Close, Text, End, Unsupported };

    // Starts at `position`, which must be the start of a tag or of character data.
    explicit XmlScanner(std::string_view text, std::size_t position = 0)
        : text_(text), position_(position) {}

    Token Next();

    // Of the last Open or Close: the element's name.
    std::string_view name() const { return name_; }
    // Of the last Open: the raw text between the name and the tag's end, and whether the tag
    // closes itself.
    std::string_view attributes() const { return attributes_; }
    bool closesItself() const { return closesItself_; }
    // Of the last Text: the raw characters.
    std::string_view text() const { return run_; }
    // Where the last token began.
    std::size_t tokenStart() const { return tokenStart_; }

  private:
    // The first position from `position` on whose character is not of the class.
    std::size_t SkipWhile(std::size_t position, unsigned char charClass) const;
    bool ReadName(std::string_view& name);
    Token ReadOpenTag();
    Token ReadCloseTag();

    std::string_view text_;
    std::size_t position_;
    std::size_t tokenStart_ = 0;
    std::string_view name_;
    std::string_view attributes_;
    std::string_view run_;
    bool closesItself_ = false;
};

// An element as WalkDocument meets it.
struct ScannedElement {
    std::string_view name;
    std::string_view attributes;  // raw, as XmlScanner::attributes()
    std::size_t start;            // where its start tag begins
};

// Walks a supported document in document order, calling on `visitor`:
//   std::size_t Open(const ScannedElement& element, const ScannedElement* parent,
//                    std::size_t parentTag)
//     for every element (`parent` is null for the root, whose parentTag is 0); it returns a tag
//     of the caller's choosing for the element;
//   void Text(std::string_view raw, std::size_t tag)
//     for the character data directly inside the element tagged `tag`.
// Returns false, having visited some elements or none, when the document is not of the supported
// kind: an optional declaration, white space, one root element, white space.
template <typename Visitor>
bool WalkDocument(std::string_view text, Visitor& visitor);

// The value of the first attribute called `name` in a tag's raw attribute text, as the full parser
// gives it (white space characters as spaces, a CR LF pair as one); "" when there is none.
std::string AttributeValue(std::string_view attributes, std::string_view name);

// A raw attribute value as the parser gives it: white space characters as spaces, a CR LF pair as
// one.
std::string AttributeValueAsParsed(std::string_view raw);

// Character data as the full parser gives it: line ends as "\n". False when it holds only white
// space, which the parser keeps no node for. `value` views `raw`, or `scratch` where line ends
// had to change.
// Inline: it runs for every run of character data.
inline bool TextValue(std::string_view raw, std::string_view& value, std::string& scratch) {
    std::size_t i = 0;
    while (i < raw.size() && IsXmlClass(raw[i], kXmlSpace)) ++i;
    if (i == raw.size()) return false;
    // Texts are short (a point, a name): a plain loop beats the library's search.
    if (std::find(raw.begin(), raw.end(), '\r') == raw.end()) {
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

// Calls visit(child, text) for each child element of the element that begins at `start`, in a
// document that WalkDocument accepted; `text` is the child's first character data (its first text
// node), "" when it has none, and stays valid only during the call.
template <typename Visit>
void ForEachChildElement(std::string_view text, std::size_t start, Visit visit);

bool IsXmlSpace(char c);
// The position after a leading "<?xml ...?>" declaration, 0 without one; npos when it is not
// closed.
std::size_t SkipDeclaration(std::string_view text);

template <typename Visitor>
bool WalkDocument(std::string_view text, Visitor& visitor) {
    std::size_t position = SkipDeclaration(text);
    if (position == std::string_view::npos) return false;
    while (position < text.size() && IsXmlSpace(text[position])) ++position;
    XmlScanner scanner(text, position);
    struct Open {
        ScannedElement element;
        std::size_t tag;
    };
    std::vector<Open> open;
    bool rootDone = false;
    std::string_view value;
    std::string scratch;
    for (;;) {
        switch (scanner.Next()) {
            case XmlScanner::Token::Open: {
                if (rootDone) return false;
                const ScannedElement element{scanner.name(), scanner.attributes(),
                                             scanner.tokenStart()};
                const std::size_t tag =
                    open.empty() ? visitor.Open(element, nullptr, 0)
                                 : visitor.Open(element, &open.back().element, open.back().tag);
                if (!scanner.closesItself()) {
                    open.push_back({element, tag});
                } else if (open.empty()) {
                    rootDone = true;
                }
                break;
            }
            case XmlScanner::Token::Close:
                if (open.empty() || open.back().element.name != scanner.name()) return false;
                open.pop_back();
                rootDone = open.empty();
                break;
            case XmlScanner::Token::Text:
                if (open.empty()) {
                    if (TextValue(scanner.text(), value, scratch)) return false;
                } else {
                    visitor.Text(scanner.text(), open.back().tag);
                }
                break;
            case XmlScanner::Token::End:
                return rootDone;
            case XmlScanner::Token::Unsupported:
                return false;
        }
    }
}

template <typename Visit>
void ForEachChildElement(std::string_view text, std::size_t start, Visit visit) {
    XmlScanner scanner(text, start);
    if (scanner.Next() != XmlScanner::Token::Open || scanner.closesItself()) return;
    std::size_t depth = 0;
    ScannedElement child{};
    std::string_view childText;
    std::string scratch;
    for (;;) {
        switch (scanner.Next()) {
            case XmlScanner::Token::Open:
                if (depth == 0) {
                    child = {scanner.name(), scanner.attributes(), scanner.tokenStart()};
                    childText = {};
                    if (scanner.closesItself()) visit(child, childText);
                }
                if (!scanner.closesItself()) ++depth;
                break;
            case XmlScanner::Token::Close:
                if (depth == 0) return;
                if (--depth == 0) visit(child, childText);
                break;
            case XmlScanner::Token::Text:
                if (depth == 1 && childText.empty()) TextValue(scanner.text(), childText, scratch);
                break;
            default:
                return;
        }
    }
}

}  // namespace annoxml::detail
