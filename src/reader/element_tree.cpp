#include "reader/element_tree.h"

#include <algorithm>
#include <cstring>

#include "reader/xml_chars.h"
#include "reader/xml_scan.h"

namespace annoxml::detail {
namespace {

// Room kept between documents: enough for any usual annotation file, little enough that one
// very large document does not hold its memory for the rest of a thread's life.
constexpr std::size_t kKeptElements = 1 << 14;

bool ReadName(const char*& p, const char* end, std::string_view& name) {
    const char* const start = p;
    if (p == end || !IsXmlClass(*p, kXmlNameStart)) return false;
    for (++p; p != end && IsXmlClass(*p, kXmlName);) ++p;
    name = std::string_view(start, static_cast<std::size_t>(p - start));
    return true;
}

bool IsAllSpace(std::string_view text) {
    for (const char c : text) {
        if (!IsXmlClass(c, kXmlSpace)) return false;
    }
    return true;
}

pugi::xml_node FirstElement(pugi::xml_node node) {
    while (node && node.type() != pugi::node_element) node = node.next_sibling();
    return node;
}

}  // namespace

bool ElementTree::Scan(std::string_view text) {
    Clear();
    const std::size_t start = SkipDeclaration(text);
    if (start == std::string_view::npos) return false;
    const char* p = text.data() + start;
    const char* const end = text.data() + text.size();
    Index open = kNone;  // the innermost element not yet closed
    bool rootClosed = false;
    while (p != end) {
        if (*p != '<') {
            const char* const stop = text.data() + FindTextStop(text, p - text.data());
            if (stop != end && *stop != '<') return false;
            const std::string_view raw(p, static_cast<std::size_t>(stop - p));
            if (open == kNone) {
                if (!IsAllSpace(raw)) return false;
            } else if (elements_[open].text.empty()) {
                KeepFirstText(open, raw);
            }
            p = stop;
        } else if (++p != end && *p == '/') {
            if (open == kNone || !ReadEndTag(++p, end, elements_[open].name)) return false;
            elements_[open].end = size();
            open = elements_[open].parent;
            rootClosed = open == kNone;
        } else {
            if (rootClosed) return false;
            bool closesItself = false;
            if (!ReadStartTag(p, end, open, closesItself)) return false;
            if (!closesItself) {
                open = size() - 1;
            } else if (open == kNone) {
                rootClosed = true;
            }
        }
    }
    return rootClosed;
}

// name (space+ name="value" | space+ name='value')* space* ("/>" | ">"), from after the '<'.
bool ElementTree::ReadStartTag(const char*& p, const char* end, Index parent, bool& closesItself) {
    std::string_view name;
    if (!ReadName(p, end, name)) return false;
    const Index firstAttribute = static_cast<Index>(attributes_.size());
    for (;;) {
        const char* const spaceStart = p;
        while (p != end && IsXmlClass(*p, kXmlSpace)) ++p;
        if (p == end) return false;
        if (*p == '>' || *p == '/') {
            closesItself = *p == '/';
            if (closesItself && (++p == end || *p != '>')) return false;
            ++p;
            break;
        }
        std::string_view attribute;
        if (p == spaceStart || !ReadName(p, end, attribute)) return false;
        if (end - p < 2 || *p != '=' || (p[1] != '"' && p[1] != '\'')) return false;
        const char quote = p[1];
        p += 2;
        const char* const valueStart = p;
        bool rewrite = false;
        for (; p != end && *p != quote; ++p) {
            if (!IsXmlClass(*p, kXmlValueStop)) continue;
            // References are left to the parser, and '<' is no part of a well-formed value.
            if (*p == '&' || *p == '<') return false;
            rewrite = rewrite || IsXmlClass(*p, kXmlSpace);
        }
        if (p == end) return false;
        const std::string_view value(valueStart, static_cast<std::size_t>(p - valueStart));
        ++p;
        attributes_.push_back({attribute, rewrite ? Keep(AttributeValueAsParsed(value)) : value});
    }
    elements_.push_back({name,
                         {},
                         parent,
                         size() + 1,
                         firstAttribute,
                         static_cast<Index>(attributes_.size()) - firstAttribute});
    return true;
}

// "name" space* ">", from after the "</".
bool ElementTree::ReadEndTag(const char*& p, const char* end, std::string_view name) {
    if (static_cast<std::size_t>(end - p) < name.size() ||
        std::memcmp(p, name.data(), name.size()) != 0) {
        return false;
    }
    p += name.size();
    while (p != end && IsXmlClass(*p, kXmlSpace)) ++p;
    if (p == end || *p != '>') return false;
    ++p;
    return true;
}

void ElementTree::KeepFirstText(Index element, std::string_view raw) {
    std::string_view value;
    if (!TextValue(raw, value, scratch_)) return;
    elements_[element].text = value.data() == scratch_.data() ? Keep(scratch_) : value;
}

void ElementTree::EndSubtrees() {
    // Elements come in document order, so a parent's descendants end where its last child's do.
    for (Index element = size(); element-- > 0;) {
        const Index parent = elements_[element].parent;
        if (parent != kNone) {
            elements_[parent].end = std::max(elements_[parent].end, elements_[element].end);
        }
    }
}

void ElementTree::Read(const pugi::xml_document& doc) {
    Clear();
    // In document order without recursion, so that deep nesting cannot exhaust the stack. A tree
    // built in code may have several elements at the top.
    Index parent = kNone;
    pugi::xml_node node = FirstElement(doc.first_child());
    while (node) {
        const Index firstAttribute = static_cast<Index>(attributes_.size());
        for (const pugi::xml_attribute attribute : node.attributes()) {
            attributes_.push_back({attribute.name(), attribute.value()});
        }
        elements_.push_back({node.name(), node.text().get(), parent, size() + 1, firstAttribute,
                             static_cast<Index>(attributes_.size()) - firstAttribute});
        if (const pugi::xml_node child = FirstElement(node.first_child())) {
            parent = size() - 1;
            node = child;
            continue;
        }
        for (;;) {
            if (const pugi::xml_node sibling = FirstElement(node.next_sibling())) {
                node = sibling;
                break;
            }
            if (parent == kNone) {
                node = {};
                break;
            }
            node = node.parent();
            parent = elements_[parent].parent;
        }
    }
    EndSubtrees();
}

std::string_view ElementTree::AttributeOf(Index element, std::string_view name) const {
    for (const Attribute* attribute = AttributesBegin(element); attribute != AttributesEnd(element);
         ++attribute) {
        if (attribute->name == name) return attribute->value;
    }
    return {};
}

ElementTree::Index ElementTree::ChildNamed(Index element, std::string_view name) const {
    for (Index child = element + 1; child < elements_[element].end; child = elements_[child].end) {
        if (elements_[child].name == name) return child;
    }
    return kNone;
}

void ElementTree::Clear() {
    if (elements_.capacity() > kKeptElements) {
        elements_ = {};
        attributes_ = {};
    }
    elements_.clear();
    attributes_.clear();
    rewritten_.clear();
}

std::string_view ElementTree::Keep(std::string value) {
    rewritten_.push_back(std::make_unique<std::string>(std::move(value)));
    return *rewritten_.back();
}

}  // namespace annoxml::detail
