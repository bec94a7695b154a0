#include <clocale>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "annoxml/preview.h"
#include "frame_fixture.h"

using namespace annoxml;
using annoxml::test::MakeBox;
using annoxml::test::MakeFrame;
using annoxml::test::MakeMark;
using annoxml::test::MakeRegion;
using testing::HasSubstr;

namespace {

// The SVG as an XML document: it must be well-formed whatever the frame holds.
pugi::xml_document ParseSvg(const std::string& svg) {
    pugi::xml_document doc;
    const pugi::xml_parse_result result = doc.load_string(svg.c_str());
    EXPECT_TRUE(result) << result.description() << " in " << svg;
    return doc;
}

std::vector<std::string> Texts(const pugi::xml_document& doc) {
    std::vector<std::string> texts;
    for (const pugi::xpath_node& node : doc.select_nodes("//text")) {
        texts.push_back(node.node().text().get());
    }
    return texts;
}

TEST(RenderFrameSvg, DrawsInImageCoordinatesOverABackgroundWhenAsked) {
    Frame frame = MakeFrame("a.png", 640, 480);
    frame.labels = {{"Polyp", "#E53935"}};
    frame.regions = {MakeRegion(ShapeKind::Polygon, "1", "Polyp", {{1.5, 2}, {3, 4.25}, {10, 0}})};
    for (const bool background : {true, false}) {
        SCOPED_TRACE(background);
        const pugi::xml_document doc = ParseSvg(RenderFrameSvg(frame, background));
        const pugi::xml_node svg = doc.child("svg");
        EXPECT_STREQ(svg.attribute("viewBox").value(), "0 0 640 480");
        EXPECT_STREQ(svg.attribute("xmlns").value(), "http://www.w3.org/2000/svg");
        const pugi::xml_node rect = doc.select_node("/svg/rect[@class='background']").node();
        EXPECT_EQ(!rect.empty(), background);
        if (background) {
            EXPECT_STREQ(rect.attribute("width").value(), "640");
            EXPECT_STREQ(rect.attribute("height").value(), "480");
        }
        EXPECT_STREQ(doc.select_node("//polygon").node().attribute("points").value(),
                     "1.5,2 3,4.25 10,0");
    }
}

TEST(RenderFrameSvg, FillsRegionsInTheLabelsColourElseTheShapesElseTheDefault) {
    const struct {
        const char* name;
        const char* labelColor;
        const char* label;
        const char* shapeColor;
        const char* fill;
        const char* fillOpacity;  // "" when the attribute is absent
    } cases[] = {
        {"label colour", "#E53935", "Polyp", "#00FF00", "rgb(229,57,53)", "0.35"},
        {"lower case", "#e53935", "Polyp", "", "rgb(229,57,53)", "0.35"},
        {"short form", "#F80", "Polyp", "", "rgb(255,136,0)", "0.35"},
        {"alpha last", "#FF000080", "Polyp", "", "rgb(255,0,0)", "0.176"},
        {"label not listed", "#E53935", "Other", "#00FF00", "rgb(0,255,0)", "0.35"},
        {"label colour empty", "", "Polyp", "#0000FF", "rgb(0,0,255)", "0.35"},
        {"label colour bad", "red", "Polyp", "#0000FF", "rgb(0,0,255)", "0.35"},
        {"both bad", "#GG0000", "Polyp", "#12345", "rgb(0,200,255)", "0.35"},
        {"no hash", "E53935", "Polyp", "", "rgb(0,200,255)", "0.35"},
        {"transparent", "#00000000", "Polyp", "", "rgb(0,0,0)", "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Frame frame = MakeFrame("a.png");
        frame.labels = {{"Polyp", c.labelColor}};
        frame.regions = {MakeBox("1", c.label, 10, 10, 20, 20)};
        frame.regions[0].color = c.shapeColor;
        const pugi::xml_document doc = ParseSvg(RenderFrameSvg(frame));
        const pugi::xml_node group = doc.select_node("//g[@class='region']").node();
        EXPECT_STREQ(group.attribute("fill").value(), c.fill);
        EXPECT_STREQ(group.attribute("fill-opacity").value(), c.fillOpacity);
        EXPECT_STREQ(group.attribute("stroke").value(), c.fill);
        EXPECT_TRUE(group.attribute("stroke-dasharray").empty());
    }
}

TEST(RenderFrameSvg, OutlinesRegionsInAMaskInTheMasksColour) {
    const struct {
        const char* name;
        const char* maskIndex;
        const char* maskColor;
        const char* stroke;
    } cases[] = {
        {"mask colour, alpha ignored", "2", "#8E24AA80", "rgb(142,36,170)"},
        {"mask colour bad", "2", "purple", "rgb(229,57,53)"},
        {"mask not in the frame", "9", "#8E24AA", "rgb(229,57,53)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Frame frame = MakeFrame("a.png");
        frame.labels = {{"Polyp", "#E53935"}};
        frame.masks = {{c.maskIndex, "Bleeding", c.maskColor}};
        frame.regions = {
            MakeRegion(ShapeKind::Circle, "4", "Polyp", {{0, 0}, {5, 0}, {0, 5}}, "2")};
        const pugi::xml_document doc = ParseSvg(RenderFrameSvg(frame));
        const pugi::xml_node group = doc.select_node("//g[@class='region']").node();
        EXPECT_STREQ(group.attribute("fill").value(), "rgb(229,57,53)");
        EXPECT_STREQ(group.attribute("stroke").value(), c.stroke);
        EXPECT_FALSE(group.attribute("stroke-dasharray").empty());
        EXPECT_THAT(group.child("title").text().get(), HasSubstr("\nMask 2"));
    }
}

TEST(RenderFrameSvg, WritesTheMeasuresOfMarks) {
    const struct {
        const char* name;
        Mark mark;
        std::vector<std::string> texts;
        const char* element;  // drawn for the mark
        std::size_t elements;
    } cases[] = {
        {"ruler 3-4-5",
         MakeMark(ShapeKind::Ruler, "1", {{{10, 10}, {40, 50}}}),
         {"50 px"},
         "polyline",
         3},
        {"ruler rounded",
         MakeMark(ShapeKind::Ruler, "1", {{{0, 0}, {1, 1}}}),
         {"1.4 px"},
         "polyline",
         3},
        {"ruler without length",
         MakeMark(ShapeKind::Ruler, "1", {{{5, 5}, {5, 5}}}),
         {"0 px"},
         "polyline",
         1},
        {"right angle",
         MakeMark(ShapeKind::Angle, "2", {{{10, 0}, {0, 0}, {0, 7}}}),
         {"90°"},
         "polyline",
         1},
        {"angle of 135",
         MakeMark(ShapeKind::Angle, "2", {{{10, 0}, {0, 0}, {-3, 3}}}),
         {"135°"},
         "polyline",
         1},
        {"straight angle",
         MakeMark(ShapeKind::Angle, "2", {{{-5, 0}, {0, 0}, {8, 0}}}),
         {"180°"},
         "polyline",
         1},
        {"angle with two points",
         MakeMark(ShapeKind::Angle, "2", {{{10, 0}, {0, 0}}}),
         {},
         "polyline",
         1},
        {"angle with a zero ray",
         MakeMark(ShapeKind::Angle, "2", {{{0, 0}, {0, 0}, {3, 1}}}),
         {},
         "polyline",
         1},
        {"cobb 30",
         MakeMark(ShapeKind::CobbAngle, "3",
                  {{{0, 0}, {10, 0}}, {{0, 0}, {1, 1}, {30, 17.320508075688775}}}),
         {"30°"},
         "polyline",
         2},
        {"cobb obtuse lines give the acute angle",
         MakeMark(ShapeKind::CobbAngle, "3",
                  {{{0, 0}, {10, 0}}, {{0, 0}, {-30, 17.320508075688775}}}),
         {"30°"},
         "polyline",
         2},
        {"cobb parallel",
         MakeMark(ShapeKind::CobbAngle, "3", {{{0, 0}, {10, 0}}, {{0, 5}, {-4, 5}}}),
         {"0°"},
         "polyline",
         2},
        {"cobb with one part",
         MakeMark(ShapeKind::CobbAngle, "3", {{{0, 0}, {10, 0}}}),
         {},
         "polyline",
         1},
        {"deviation has no measure",
         MakeMark(ShapeKind::Deviation, "4", {{{0, 0}, {10, 0}}, {{0, 0}, {1, 1}, {3, 3}}}),
         {},
         "polyline",
         2},
        {"line", MakeMark(ShapeKind::Line, "5", {{{1, 2}, {3, 4}}}), {}, "polyline", 1},
        {"polyline",
         MakeMark(ShapeKind::PolyLine, "6", {{{1, 2}, {3, 4}, {5, 0}}}),
         {},
         "polyline",
         1},
        {"freehand polyline",
         MakeMark(ShapeKind::FreehandPolyLine, "7", {{{1, 2}, {3, 4}}}),
         {},
         "polyline",
         1},
        {"points", MakeMark(ShapeKind::PointObject, "8", {{{1, 2}, {3, 4}}}), {}, "circle", 2},
        {"text",
         MakeMark(ShapeKind::Text, "9", {{{20, 30}}}, "Polyp 9 mm"),
         {"Polyp 9 mm"},
         "text",
         1},
        {"arrow",
         MakeMark(ShapeKind::ArrowText, "10", {{{100, 50}, {20, 30}}}, "bleeding"),
         {"bleeding"},
         "polygon",
         1},
        {"line without points", MakeMark(ShapeKind::Line, "11", {}), {}, "polyline", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Frame frame = MakeFrame("a.png");
        frame.marks = {c.mark};
        const pugi::xml_document doc = ParseSvg(RenderFrameSvg(frame));
        EXPECT_EQ(Texts(doc), c.texts);
        EXPECT_EQ(
            doc.select_nodes((std::string("//g[@class='mark']//") + c.element).c_str()).size(),
            c.elements);
    }
}

TEST(RenderFrameSvg, PlacesTextAtItsPositionAndArrowsPointAtTheirEnd) {
    Frame frame = MakeFrame("a.png");
    frame.marks = {MakeMark(ShapeKind::Text, "1", {{{20, 30.5}}}, "note"),
                   MakeMark(ShapeKind::ArrowText, "2", {{{100, 50}, {20, 50}}}, "tip")};
    const pugi::xml_document doc = ParseSvg(RenderFrameSvg(frame));
    const pugi::xml_node text = doc.select_node("//text[.='note']").node();
    EXPECT_STREQ(text.attribute("x").value(), "20");
    EXPECT_STREQ(text.attribute("y").value(), "30.5");
    const pugi::xml_node label = doc.select_node("//text[.='tip']").node();
    EXPECT_STREQ(label.attribute("x").value(), "100");
    // The arrowhead's first point is the end point.
    EXPECT_THAT(doc.select_node("//polygon").node().attribute("points").value(),
                testing::StartsWith("20,50 "));
}

TEST(RenderFrameSvg, MarksTakeTheirOwnColourElseTheirLabels) {
    const struct {
        const char* name;
        const char* markColor;
        const char* stroke;
        const char* opacity;
    } cases[] = {
        {"own colour", "#FFEB3B", "rgb(255,235,59)", ""},
        {"own colour with alpha", "#FFFFFF80", "rgb(255,255,255)", "0.502"},
        {"no colour: the label's", "", "rgb(67,160,71)", ""},
        {"bad colour: the label's", "#XYZ", "rgb(67,160,71)", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Frame frame = MakeFrame("a.png");
        frame.labels = {{"Instrument", "#43A047"}};
        frame.marks = {MakeMark(ShapeKind::Line, "1", {{{1, 2}, {3, 4}}})};
        frame.marks[0].label = "Instrument";
        frame.marks[0].color = c.markColor;
        const pugi::xml_document doc = ParseSvg(RenderFrameSvg(frame));
        const pugi::xml_node group = doc.select_node("//g[@class='mark']").node();
        EXPECT_STREQ(group.attribute("stroke").value(), c.stroke);
        EXPECT_STREQ(group.attribute("opacity").value(), c.opacity);
    }
}

TEST(RenderFrameSvg, EveryShapeHasAHoverTitleWithItsKindIndexLabelAndDescription) {
    Frame frame = MakeFrame("a.png");
    frame.labels = {{"Polyp", "#E53935"}};
    frame.regions = {MakeBox("6", "Polyp", 1, 1, 5, 5)};
    frame.regions[0].description = "Polyp box";
    frame.marks = {MakeMark(ShapeKind::PointObject, "17", {{{3, 3}}}),
                   MakeMark(ShapeKind::Deviation, "19", {{{0, 0}, {1, 1}}, {{1, 0}, {0, 1}}})};
    frame.marks[0].label = "Polyp";
    frame.marks[0].description = "Clip placed";
    const pugi::xml_document doc = ParseSvg(RenderFrameSvg(frame));
    std::vector<std::string> titles;
    for (const pugi::xpath_node& node : doc.select_nodes("/svg/g/title")) {
        titles.push_back(node.node().text().get());
    }
    EXPECT_EQ(titles,
              (std::vector<std::string>{"Rectangle with Index 6\nLabel: Polyp\nPolyp box",
                                        "PointObject with Index 17\nLabel: Polyp\nClip placed",
                                        "Deviation with Index 19"}));
}

TEST(RenderFrameSvg, EscapesEveryTextTakenFromTheFile) {
    const std::string hostile = "<script>alert('x')</script> & \"quoted\" </svg>";
    Frame frame = MakeFrame("a.png");
    frame.labels = {{hostile, "#E53935"}};
    frame.regions = {MakeBox(hostile, hostile, 1, 1, 5, 5)};
    frame.regions[0].description = hostile;
    frame.marks = {MakeMark(ShapeKind::Text, hostile, {{{3, 3}}}, hostile),
                   MakeMark(ShapeKind::ArrowText, "2", {{{3, 3}, {9, 9}}}, hostile)};
    const std::string svg = RenderFrameSvg(frame);
    EXPECT_THAT(svg, testing::Not(HasSubstr("<script")));
    const pugi::xml_document doc = ParseSvg(svg);
    EXPECT_EQ(Texts(doc), (std::vector<std::string>{hostile, hostile}));
    EXPECT_EQ(std::string(doc.select_node("/svg/g/title").node().text().get()),
              "Rectangle with Index " + hostile + "\nLabel: " + hostile + "\n" + hostile);
}

TEST(RenderFrameSvg, ANonPositiveSizeStillGivesAValidViewBox) {
    Frame frame = MakeFrame("a.png", 0, -3);
    const pugi::xml_document doc = ParseSvg(RenderFrameSvg(frame));
    EXPECT_STREQ(doc.child("svg").attribute("viewBox").value(), "0 0 1 1");
}

TEST(RenderFrameSvg, NumbersIgnoreTheProcessLocale) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no de_DE.UTF-8";
    Frame frame = MakeFrame("a.png");
    frame.regions = {MakeRegion(ShapeKind::Polygon, "1", "", {{1.5, 2.25}, {3, 4}, {0, 9}})};
    const std::string svg = RenderFrameSvg(frame);
    std::setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_THAT(svg, HasSubstr("points=\"1.5,2.25 3,4 0,9\""));
}

}  // namespace

namespace {

TEST(RenderFrameSvg, DrawsEveryShapeOfTheExampleFrame) {
    const Frame frame = ReadFrame(ANNOXML_TEST_DATA "/../../examples/colonoscopy-frame-0142.xml");
    const pugi::xml_document doc = ParseSvg(RenderFrameSvg(frame));
    EXPECT_STREQ(doc.child("svg").attribute("viewBox").value(), "0 0 1350 1080");
    EXPECT_EQ(doc.select_nodes("/svg/g[@class='region']").size(), 9u);
    EXPECT_EQ(doc.select_nodes("/svg/g[@class='mark']").size(), 10u);
    std::set<std::string> kinds;
    for (const pugi::xpath_node& node : doc.select_nodes("/svg/g/title")) {
        const std::string title = node.node().text().get();
        kinds.insert(title.substr(0, title.find(' ')));
    }
    EXPECT_EQ(kinds.size(), 15u);
    // Ruler (560,380)-(688,452), Angle at (1120,905), Cobb lines (640,260)-(760,340) and
    // (660,380)-(800,300): lengths and angles computed by hand.
    EXPECT_EQ(Texts(doc),
              (std::vector<std::string>{"146.9 px", "Polyp 9 mm, Paris 0-Is, snare resection",
                                        "Sickerblutung nach Abtragung", "116.6°", "63.4°"}));
}

}  // namespace
