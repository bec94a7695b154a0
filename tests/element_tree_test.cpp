// The element tree built from a document's text must be the one built from the parser's tree of
// the same document, wherever the scanner takes the document.
#include <string>

#include <gtest/gtest.h>

#include "reader/element_tree.h"
#include "test_xml.h"

using annoxml::detail::ElementTree;

namespace {

std::string TreeText(const ElementTree& tree) {
    std::string text;
    for (ElementTree::Index element = 0; element < tree.size(); ++element) {
        const ElementTree::Element& e = tree[element];
        text += std::to_string(element) + " <" + std::string(e.name) + "> parent " +
                (e.parent == ElementTree::kNone ? "-" : std::to_string(e.parent)) + " end " +
                std::to_string(e.end) + " text [" + std::string(e.text) + "]";
        for (auto* a = tree.AttributesBegin(element); a != tree.AttributesEnd(element); ++a) {
            text += " " + std::string(a->name) + "=[" + std::string(a->value) + "]";
        }
        text += "\n";
    }
    return text;
}

struct Case {
    const char* name;
    std::string xml;
    bool scanned;
};

const Case kCases[] = {
    {"plain", "<A><B x='1' y=\"2\">t</B><C/></A>", true},
    {"declaration and spaces around the root", "<?xml version='1.0'?>\n <A/>\n\t", true},
    {"nesting, siblings after deep children", "<A><B><C><D/></C><E>e</E></B><F><G>g</G></F></A>",
     true},
    {"first text only, after a child and white space", "<A>  <B/>\n first <C/> second</A>", true},
    {"text of white space only is none", "<A> \r\n\t<B/>  </A>", true},
    {"CR LF and lone CR in text become LF", "<A><P>1,2\r\n3,4\r5</P></A>", true},
    {"CR LF before the text", "<A><P>\r\n 1,2</P></A>", true},
    {"white space in values becomes spaces", "<A v='a\tb\r\nc\nd\re' w='x  y'/>", true},
    {"repeated attribute: both kept, the first found", "<A k='1' k='2'/>", true},
    {"'>' in a value", "<A v='a>b'/>", true},
    {"quotes of the other kind in values", "<A v=\"it's\" w='say \"hi\"'/>", true},
    {"UTF-8 text and values", "<A v='\xC5\x92'>\xC3\xA9</A>", true},
    {"names with digits, dots, dashes, colons", "<a:B-1.x _c='1'/>", true},
    {"space before the end of tags", "<A ><B x='1' /></A >", true},
    {"empty values and texts", "<A v=''><B></B></A>", true},
    {"comment", "<A><!-- c --><B/></A>", false},
    {"entity in text", "<A>a &amp; b</A>", false},
    {"character reference in a value", "<A v='&#65;'/>", false},
    {"CDATA", "<A><![CDATA[x]]></A>", false},
    {"'>' in text", "<A>a > b</A>", false},
    {"processing instruction inside", "<A><?pi x?></A>", false},
    {"doctype", "<!DOCTYPE A><A/>", false},
    {"two roots", "<A/><B/>", false},
    {"text after the root", "<A/>x", false},
    {"mismatched end tag", "<A><B></C></A>", false},
    {"end tag that is longer", "<A><B></BC></A>", false},
    {"unclosed root", "<A><B/>", false},
    {"attribute without quotes", "<A v=1/>", false},
    {"attributes without space between", "<A v='1'w='2'/>", false},
    {"spaces around '='", "<A v = '1'/>", false},
    {"name outside ASCII", "<\xC3\x89/>", false},
    {"byte order mark", "\xEF\xBB\xBF<A/>", false},
};

TEST(ElementTree, ScannedAsTheParserReadsIt) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        ElementTree scanned;
        ASSERT_EQ(scanned.Scan(c.xml), c.scanned);
        if (!c.scanned) continue;
        ElementTree parsed;
        const pugi::xml_document doc = annoxml::test::ParseXml(c.xml);
        parsed.Read(doc);
        EXPECT_EQ(TreeText(scanned), TreeText(parsed));
    }
}

TEST(ElementTree, ChildrenAttributesAndRoomKept) {
    ElementTree tree;
    ASSERT_TRUE(tree.Scan("<A><B k='1' k='2'><C/></B><C>x</C><B/></A>"));
    std::string children;
    tree.ForEachChild(0, [&](ElementTree::Index child) { children += tree[child].name; });
    EXPECT_EQ(children, "BCB");
    EXPECT_EQ(tree.ChildNamed(0, "C"), 3u);
    EXPECT_EQ(tree.ChildNamed(0, "D"), ElementTree::kNone);
    EXPECT_EQ(tree.AttributeOf(1, "k"), "1");
    EXPECT_EQ(tree.AttributeOf(1, "m"), "");
    // A second document leaves nothing of the first.
    ASSERT_TRUE(tree.Scan("<Z/>"));
    EXPECT_EQ(TreeText(tree), "0 <Z> parent - end 1 text []\n");
}

}  // namespace
