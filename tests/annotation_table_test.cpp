#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "annoxml/reader.h"
#include "test_xml.h"

using annoxml::test::ParseXml;

namespace {

const std::vector<std::string> kKindsInKeyOrder{
    "Angle",    "ArrowText",       "Circle",           "CobbAngle", "Deviation",
    "Ellipse",  "FreehandContour", "FreehandPolyLine", "Line",      "PointObject",
    "PolyLine", "Polygon",         "Rectangle",        "Ruler",     "Text"};

std::vector<std::string> KeysOf(const AnnotationTable& table) {
    std::vector<std::string> keys;
    for (const auto& [kind, shapes] : table) keys.push_back(kind);
    return keys;
}

TEST(GetAllAnnotations, AlwaysHoldsTheFifteenKinds) {
    const AnnotationTable table = GetAllAnnotations(ParseXml(
        "<A><ImageInformation/><User/><LabelList><Label/></LabelList><Mask/><Unknown/></A>"));
    EXPECT_EQ(KeysOf(table), kKindsInKeyOrder);
    for (const auto& [kind, shapes] : table) {
        EXPECT_TRUE(shapes.empty()) << kind;
    }
}

TEST(GetAllAnnotations, ListsEachShapeUnderItsOwnKind) {
    const AnnotationTable table = GetAllAnnotations(ParseXml(R"(<A>
        <Rectangle Index="1"/><Mask Index="1"><Rectangle Index="2"/><Polygon Index="3"/></Mask>
        <ArrowText Index="4"><Text>note</Text></ArrowText>
        <CobbAngle Index="5"><PolyLine><Point>1,1</Point></PolyLine><Angle Index="6"><Point>2,2</Point></Angle></CobbAngle>
        <Deviation Index="7"><PolyLine/><Angle/></Deviation>
      </A>)"));
    EXPECT_EQ(KeysOf(table), kKindsInKeyOrder);
    const auto count = [&](const char* kind) { return table.at(kind).size(); };
    EXPECT_EQ(count("Rectangle"), 2u);
    EXPECT_EQ(count("Polygon"), 1u);
    EXPECT_EQ(count("ArrowText"), 1u);
    EXPECT_EQ(count("Text"), 0u);
    EXPECT_EQ(count("PolyLine"), 0u);
    EXPECT_EQ(count("Angle"), 1u);
    EXPECT_EQ(count("CobbAngle"), 1u);
    EXPECT_EQ(count("Deviation"), 1u);
    EXPECT_EQ(table.at("Rectangle")[1].at("mask_id"), "1");
    EXPECT_EQ(table.at("CobbAngle")[0].at("angle_points"), "2,2");
    EXPECT_EQ(table.at("Angle")[0].at("points"), "2,2");
}

// Reading must stay linear in the number of shapes: 100,000 rectangles are read in one pass.
TEST(GetAllAnnotations, ReadsLargeDocuments) {
    std::string xml = "<A><Mask Index=\"1\">";
    for (int i = 0; i < 100000; ++i) {
        xml += "<Rectangle Index=\"" + std::to_string(i) +
               "\" Label=\"L\"><Point>1,2</Point><Point>3,4</Point></Rectangle>";
    }
    xml += "</Mask></A>";
    const AnnotationTable table = GetAllAnnotations(ParseXml(xml));
    ASSERT_EQ(table.at("Rectangle").size(), 100000u);
    EXPECT_EQ(table.at("Rectangle").back().at("index"), "99999");
    EXPECT_EQ(table.at("Rectangle").back().at("points"), "1,2,3,4");
}

}  // namespace
