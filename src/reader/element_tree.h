// A document's elements in document order, with their names, attributes and first texts as the
// parser gives them: what the frame model reads. Built straight from the text where the scanner
// reads it, which costs a fraction of the parser's tree, or else from the parser's tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

namespace annoxml::detail {

// Whether `name` is `expected`, a name written in the code; compared inline, without a call.
template <std::size_t N>
bool IsName(std::string_view name, const char (&expected)[N]) {
    return name.size() == N - 1 && std::memcmp(name.data(), expected, N - 1) == 0;
}

class ElementTree {
  public:
    using Index = std::uint32_t;
    static constexpr Index kNone = UINT32_MAX;

    struct Attribute {
        std::string_view name;
        std::string_view value;
    };

    struct Element {
        std::string_view name;
        // The first character data directly inside that is not only white space, "" when none.
        std::string_view text;
        Index parent;  // kNone for the root
        Index end;     // one past its last descendant: its descendants are the elements between
        Index firstAttribute;
        Index attributeCount;
    };

    // Builds the tree from a document's text; false when the scanner leaves the text to the
    // parser, and the tree is then of no use. The caller checks first that the parser reads the
    // text as UTF-8 without transcoding it and that it holds no NUL byte, and the text must be
    // followed by one (as std::string's is). The tree views `text`.
    bool Scan(std::string_view text);
    // Builds the tree from the parser's, which it views.
    void Read(const pugi::xml_document& doc);

    Index size() const { return static_cast<Index>(elements_.size()); }
    const Element& operator[](Index element) const { return elements_[element]; }

    // The value of the element's first attribute called `name`; "" when it has none.
    std::string_view AttributeOf(Index element, std::string_view name) const;
    template <std::size_t N>
    std::string_view AttributeOf(Index element, const char (&name)[N]) const {
        for (const Attribute* a = AttributesBegin(element); a != AttributesEnd(element); ++a) {
            if (IsName(a->name, name)) return a->value;
        }
        return {};
    }
    const Attribute* AttributesBegin(Index element) const {
        return attributes_.data() + elements_[element].firstAttribute;
    }
    const Attribute* AttributesEnd(Index element) const {
        return AttributesBegin(element) + elements_[element].attributeCount;
    }

    // Calls visit(child) for each child element, in order.
    template <typename Visit>
    void ForEachChild(Index element, Visit visit) const {
        for (Index child = element + 1; child < elements_[element].end;
             child = elements_[child].end) {
            visit(child);
        }
    }

    // The first child element called `name`; kNone when there is none.
    Index ChildNamed(Index element, std::string_view name) const;

    // Drops the elements but keeps the room, unless it has grown beyond what most documents
    // need.
    void Clear();

  private:
    // Where the tag that starts at `p` ends, having added its element; null when it is not one
    // the scanner reads.
    const char* StartTagEnd(const char* p, Index parent, bool& closesItself);
    static const char* EndTagEnd(const char* p, const char* end, std::string_view name);
    // Sets the element's text from `raw` unless that is only white space.
    void KeepFirstText(Index element, std::string_view raw);
    // Sets each element's end from the parents of those after it.
    void EndSubtrees();
    // A text or value whose white space the parser rewrites, kept as rewritten.
    std::string_view Keep(std::string value);

    std::vector<Element> elements_;
    std::vector<Attribute> attributes_;
    std::vector<std::unique_ptr<std::string>> rewritten_;
    std::string scratch_;
};

}  // namespace annoxml::detail
