#include <stdexcept>

#include <gtest/gtest.h>

#include "annoxml/reader.h"
#include "test_xml.h"

using annoxml::test::ParseXml;

namespace {

struct ImageCase {
    const char* name;
    const char* xml;
    FieldMap expected;
};

TEST(ParseImageInformation, Table) {
    const ImageCase cases[] = {
        {"complete",
         "<A><ImageInformation><FileName>f.png</FileName><Height>480</Height><Width>640</Width></"
         "ImageInformation></A>",
         {{"file_name", "f.png"}, {"height", "480"}, {"width", "640"}}},
        {"missing section", "<A/>", {{"file_name", ""}, {"height", ""}, {"width", ""}}},
        {"nested deeply",
         "<A><B><C><ImageInformation><Width>7</Width></ImageInformation></C></B></A>",
         {{"file_name", ""}, {"height", ""}, {"width", "7"}}},
        {"spaces kept, empty element",
         "<A><ImageInformation><Height> 480 </Height><Width/></ImageInformation></A>",
         {{"file_name", ""}, {"height", " 480 "}, {"width", ""}}},
        {"first section only",
         "<A><ImageInformation><Height>1</Height></ImageInformation><ImageInformation><Height>2</"
         "Height></ImageInformation></A>",
         {{"file_name", ""}, {"height", "1"}, {"width", ""}}},
        {"cdata and references",
         "<A><ImageInformation><FileName><![CDATA[a<b>.png]]></FileName><Height>&#52;80</Height></"
         "ImageInformation></A>",
         {{"file_name", "a<b>.png"}, {"height", "480"}, {"width", ""}}},
        {"case matters",
         "<A><ImageInformation><height>1</height></ImageInformation></A>",
         {{"file_name", ""}, {"height", ""}, {"width", ""}}},
    };
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ParseImageInformation(ParseXml(c.xml)), c.expected);
    }
}

TEST(ParseUserInformation, Table) {
    const ImageCase cases[] = {
        {"complete",
         R"(<A><User UserID="7" Mode="edit" State="done" Time="2024/01/02 10:00"/></A>)",
         {{"mode", "edit"}, {"state", "done"}, {"time", "2024/01/02 10:00"}, {"user_id", "7"}}},
        {"no attributes",
         "<A><User/></A>",
         {{"mode", ""}, {"state", ""}, {"time", ""}, {"user_id", ""}}},
        {"first user, any depth",
         R"(<A><B><User UserID="1"/></B><User UserID="2"/></A>)",
         {{"mode", ""}, {"state", ""}, {"time", ""}, {"user_id", "1"}}},
        {"case matters",
         R"(<A><User userid="1" Mode=""/></A>)",
         {{"mode", ""}, {"state", ""}, {"time", ""}, {"user_id", ""}}},
    };
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ParseUserInformation(ParseXml(c.xml)), c.expected);
    }
}

TEST(ParseUserInformation, ThrowsWithoutUser) {
    for (const char* xml : {"<A/>", "<User_/>", "<A><user/></A>"}) {
        SCOPED_TRACE(xml);
        try {
            ParseUserInformation(ParseXml(xml));
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Invalid xml format");
        }
    }
}

FieldMap Label(const std::string& type, const std::string& detail = "",
               const std::string& color = "", const std::string& description = "") {
    return {{"LabelColor", color},
            {"LabelDescription", description},
            {"LabelDetail", detail},
            {"LabelType", type}};
}

FieldMap Mask(const std::string& index, const std::string& color = "",
              const std::string& description = "") {
    return {{"color", color}, {"description", description}, {"index", index}};
}

// The repeated sections: label entries and masks.
TEST(ListSections, Table) {
    const struct {
        const char* name;
        FieldMapList (*read)(const pugi::xml_document&);
        const char* xml;
        FieldMapList expected;
    } cases[] = {
        {"no label list", ParseLabelList, "<A/>", {}},
        {"all label attributes",
         ParseLabelList,
         R"(<A><LabelList><Label LabelType="Polyp" LabelDetail="d" LabelColor="#f00" LabelDescription="x"/></LabelList></A>)",
         {Label("Polyp", "d", "#f00", "x")}},
        {"two label lists in order",
         ParseLabelList,
         R"(<A><LabelList><Label LabelType="a"/><Label LabelType="b"/></LabelList>
            <X><LabelList><Label LabelType="c"/><Label LabelType="d"/><Label LabelType="e"/></LabelList></X></A>)",
         {Label("a"), Label("b"), Label("c"), Label("d"), Label("e")}},
        {"only direct children of a label list",
         ParseLabelList,
         R"(<A><Label LabelType="out"/><LabelList><G><Label LabelType="deep"/></G><Label/></LabelList></A>)",
         {Label("")}},
        {"entities expanded, spaces normalised",
         ParseLabelList,
         "<A><LabelList><Label LabelType=\"a&amp;b\" LabelDetail=\"x\ty\"/></LabelList></A>",
         {Label("a&b", "x y")}},
        {"no mask", ParseMask, "<A/>", {}},
        {"masks at any depth, in order, shapes ignored",
         ParseMask,
         R"(<A><Mask Index="1" Color="red" Description="first"><Rectangle Index="9"/></Mask>
            <B><Mask Index="2"/></B><Mask/></A>)",
         {Mask("1", "red", "first"), Mask("2"), Mask("")}},
        {"mask names in another case",
         ParseMask,
         R"(<A><mask Index="1"/><Mask index="2"/></A>)",
         {Mask("")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.read(ParseXml(c.xml)), c.expected);
    }
}

}  // namespace
