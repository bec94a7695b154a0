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

// The loops below need no check for the text's end: it is followed by a NUL byte, which belongs
// to no class but kXmlValueStop and matches no character they look for. They run over local
// pointers and return where they stopped: a pointer held by reference would be stored again at
// every character, as the characters read might be its own bytes.

// The end of the name that starts at `p`, or null when none starts there.
const char* NameEnd(const char* p) {
    if (!IsXmlClass(*p, kXmlNameStart)) return nullptr;
    while (IsXmlClass(*++p, kXmlName)) {
    }
    return p;
}

const char* SkipSpace(const char* p) {
    while (IsXmlClass(*p, kXmlSpace)) ++p;
    return p;
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
            const char* const nonSpace = SkipSpace(p);
            if (*nonSpace == '<') {
                p = nonSpace;  // white space between tags, most runs of character data
                continue;
            }
            const char* const stop =
                text.data() + FindTextStop(text, static_cast<std::size_t>(nonSpace - text.data()));
            if (stop != end && *stop != '<') return false;
            const std::string_view raw(p, static_cast<std::size_t>(stop - p));
            if (open == kNone) {
                if (!IsAllSpace(raw)) return false;
            } else if (elements_[open].text.empty()) {
                KeepFirstText(open, raw);
            }
            p = stop;
        } else if (*++p == '/') {
            if (open == kNone || !(p = EndTagEnd(p + 1, end, elements_[open].name))) return false;
            elements_[open].end = size();
            open = elements_[open].parent;
            rootClosed = open == kNone;
        } else {
            if (rootClosed) return false;
            bool closesItself = false;
            if (!(p = StartTagEnd(p, open, closesItself))) return false;
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
const char* ElementTree::StartTagEnd(const char* p, Index parent, bool& closesItself) {
    const char* const nameStart = p;
    if (!(p = NameEnd(p))) return nullptr;
    const std::string_view name(nameStart, static_cast<std::size_t>(p - nameStart));
    const Index firstAttribute = static_cast<Index>(attributes_.size());
    for (;;) {
        const char* const spaceStart = p;
        p = SkipSpace(p);
        if (*p == '>' || *p == '/') {
            closesItself = *p == '/';
            if (closesItself && *++p != '>') return nullptr;
            ++p;
            break;
        }
        const char* const attributeStart = p;
        if (p == spaceStart || !(p = NameEnd(p))) return nullptr;
        const std::string_view attribute(attributeStart,
                                         static_cast<std::size_t>(p - attributeStart));
        if (*p != '=' || (p[1] != '"' && p[1] != '\'')) return nullptr;
        const char quote = p[1];
        p += 2;
        const char* const valueStart = p;
        bool rewrite = false;
        for (;; ++p) {
            while (!IsXmlClass(*p, kXmlValueStop)) ++p;
            if (*p == quote) break;
            // References are left to the parser, '<' is no part of a well-formed value, and the
            // NUL byte is the text's end.
            if (*p == '&' || *p == '<' || *p == '\0') return nullptr;
            rewrite = rewrite || IsXmlClass(*p, kXmlSpace);
        }
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
    return p;
}

// "name" space* ">", from after the "</".
const char* ElementTree::EndTagEnd(const char* p, const char* end, std::string_view name) {
    if (static_cast<std::size_t>(end - p) < name.size() ||
        std::memcmp(p, name.data(), name.size()) != 0) {
        return nullptr;
    }
    p = SkipSpace(p + name.size());
    return *p == '>' ? p + 1 : nullptr;
}

void ElementTree::KeepFirstText(Index element, std::string_view raw) {
    std::string_view value;
    if (!TextValue(raw, value, scratch_)) return;
    elements_[element].text = value.data() == raw.data() ? value : Keep(scratch_);
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
