#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "annoxml/reader.h"
#include "test_xml.h"

using annoxml::test::ParseXml;

namespace {

using ShapeReader = FieldMapList (*)(const pugi::xml_document&);

struct Kind {
    const char* element;
    ShapeReader read;
    std::vector<std::string> keys;  // in iteration order, without "mask_id"
    bool recordsMask;
};

const std::vector<std::string> kAreaKeys{"center", "color", "description",
                                         "index",  "label", "points"};
const std::vector<std::string> kLineKeys{"center", "color", "description", "end_point",
                                         "index",  "label", "start_point"};
const std::vector<std::string> kPolyLineKeys{"center", "color", "description",
                                             "index",  "label", "points"};
const std::vector<std::string> kCobbKeys{"angle_center",    "angle_points",   "color",
                                         "description",     "index",          "label",
                                         "polyline_center", "polyline_points"};

const Kind kKinds[] = {
    {"Rectangle", ParseRectangleAnnotations, kAreaKeys, true},
    {"Line", ParseLineAnnotations, kLineKeys, false},
    {"Polygon", ParsePolygonAnnotations, kAreaKeys, true},
    {"Circle", ParseCircleAnnotations, kAreaKeys, true},
    {"FreehandContour", ParseFreehandContourAnnotations, kAreaKeys, true},
    {"Ruler", ParseRulerAnnotations, kLineKeys, false},
    {"Ellipse",
     ParseEllipseAnnotations,
     {"axis_points", "center", "color", "description", "height_point", "index", "label", "points"},
     true},
    {"Text",
     ParseTextAnnotations,
     {"backgroundColor", "content", "description", "index", "label", "labelColor", "position",
      "shadowColor", "textColor"},
     false},
    {"ArrowText",
     ParseArrowTextAnnotations,
     {"backgroundColor", "center", "color", "description", "end_point", "index", "label",
      "shadowColor", "start_point", "text", "textColor"},
     false},
    {"PolyLine", ParsePolyLineAnnotations, kPolyLineKeys, false},
    {"FreehandPolyLine", ParseFreehandPolyLineAnnotations, kPolyLineKeys, false},
    {"Angle", ParseAngleAnnotations, kPolyLineKeys, false},
    {"PointObject",
     ParsePointObjectAnnotations,
     {"color", "description", "index", "label", "points"},
     false},
    {"CobbAngle", ParseCobbAngleAnnotations, kCobbKeys, false},
    {"Deviation", ParseDeviationAnnotations, kCobbKeys, false},
};

std::vector<std::string> KeysOf(const FieldMap& fields) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : fields) keys.push_back(key);
    return keys;
}

// An element without attributes or children has every key of its kind, all empty. Text, PolyLine
// and Angle need an Index to be listed at all.
TEST(ShapeReaders, BareElementHasEveryKeyEmpty) {
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.element);
        const std::string element = kind.element;
        const FieldMapList shapes = kind.read(ParseXml("<A><" + element + " Index=\"1\"/></A>"));
        ASSERT_EQ(shapes.size(), 1u);
        EXPECT_EQ(KeysOf(shapes[0]), kind.keys);
        for (const auto& [key, value] : shapes[0]) {
            EXPECT_EQ(value, key == "index" ? "1" : "") << key;
        }
    }
}

TEST(ShapeReaders, MaskMembershipOnlyForDirectChildrenOfAreaKinds) {
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.element);
        const std::string e = kind.element;
        const FieldMapList shapes =
            kind.read(ParseXml("<A><Mask Index=\"2\"><" + e + " Index=\"1\"/><G><" + e +
                               " Index=\"3\"/></G></Mask>" + "<mask Index=\"4\"><" + e +
                               " Index=\"5\"/></mask><Mask><" + e + " Index=\"6\"/></Mask></A>"));
        ASSERT_EQ(shapes.size(), 4u);
        std::vector<std::string> keysInMask = kind.keys;
        if (kind.recordsMask) {
            keysInMask.push_back("mask_id");
            std::sort(keysInMask.begin(), keysInMask.end());
            EXPECT_EQ(shapes[0].at("mask_id"), "2");
            EXPECT_EQ(shapes[3].at("mask_id"), "");
        }
        EXPECT_EQ(KeysOf(shapes[0]), keysInMask);
        EXPECT_EQ(KeysOf(shapes[1]), kind.keys) << "nested deeper in the mask";
        EXPECT_EQ(KeysOf(shapes[2]), kind.keys) << "parent named in another case";
        EXPECT_EQ(KeysOf(shapes[3]), keysInMask);
    }
}

TEST(ShapeReaders, EmptyIndexSkipsOnlyTextPolyLineAndAngle) {
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.element);
        const std::string e = kind.element;
        const FieldMapList shapes =
            kind.read(ParseXml("<A><" + e + "/><" + e + " Index=\"\"/><" + e + " index=\"1\"/><" +
                               e + " Index=\" \"/></A>"));
        const bool skips = e == "Text" || e == "PolyLine" || e == "Angle";
        ASSERT_EQ(shapes.size(), skips ? 1u : 4u);
        EXPECT_EQ(shapes.back().at("index"), " ");
    }
}

TEST(ShapeReaders, NoElementGivesEmptyList) {
    const pugi::xml_document doc = ParseXml("<A><rectangle/><Mask/><LabelList/></A>");
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.element);
        EXPECT_TRUE(kind.read(doc).empty());
    }
}

struct Case {
    const char* name;
    ShapeReader read;
    const char* xml;
    FieldMapList expected;
};

TEST(ShapeReaders, Values) {
    const Case cases[] = {
        {"rectangle: direct points joined, first Center, wrapped points ignored",
         ParseRectangleAnnotations,
         R"(<A><Rectangle Index="1" Color="#ff0000" Description="d" Label="Polyp">
              <Center>5,5</Center><Center>9,9</Center>
              <Point>10,20</Point><Point>30,40</Point><Points><Point>99,99</Point></Points>
            </Rectangle></A>)",
         {{{"center", "5,5"},
           {"color", "#ff0000"},
           {"description", "d"},
           {"index", "1"},
           {"label", "Polyp"},
           {"points", "10,20,30,40"}}}},
        {"polygon: empty point texts joined as Join does, empty Center",
         ParsePolygonAnnotations,
         "<A><Polygon><Center/><Point/><Point>1,2</Point><Point/><Point>3,4</Point><Point/></"
         "Polygon></A>",
         {{{"center", ""},
           {"color", ""},
           {"description", ""},
           {"index", ""},
           {"label", ""},
           {"points", "1,2,,3,4,"}}}},
        {"freehand contour: points at any depth below Points only",
         ParseFreehandContourAnnotations,
         "<A><FreehandContour><Point>0,0</Point><Points><Point>1,1</Point><G><Point>2,2</Point></"
         "G></Points>"
         "<Points><Point>3,3</Point></Points></FreehandContour></A>",
         {{{"center", ""},
           {"color", ""},
           {"description", ""},
           {"index", ""},
           {"label", ""},
           {"points", "1,1,2,2,3,3"}}}},
        {"ellipse: axis points and points kept apart",
         ParseEllipseAnnotations,
         R"(<A><Mask Index="2"><Ellipse Index="4" Color="c" Description="e" Label="L">
              <Center>50,50</Center><HeightPoint>50,70</HeightPoint>
              <AxisPoints><Point>30,50</Point><Point>70,50</Point></AxisPoints>
              <Points><Point>1,2</Point><Point>3,4</Point></Points><Point>8,8</Point>
            </Ellipse></Mask></A>)",
         {{{"axis_points", "30,50,70,50"},
           {"center", "50,50"},
           {"color", "c"},
           {"description", "e"},
           {"height_point", "50,70"},
           {"index", "4"},
           {"label", "L"},
           {"mask_id", "2"},
           {"points", "1,2,3,4"}}}},
        {"line and ruler children",
         ParseRulerAnnotations,
         R"(<A><Ruler Index="1"><StartPoint>0,0</StartPoint><EndPoint>3,4</EndPoint><Center>1,2</Center></Ruler></A>)",
         {{{"center", "1,2"},
           {"color", ""},
           {"description", ""},
           {"end_point", "3,4"},
           {"index", "1"},
           {"label", ""},
           {"start_point", "0,0"}}}},
        {"text: colours, position and content; own text and Color not read",
         ParseTextAnnotations,
         R"(<A><Text Index="1" Color="no" LabelColor="l" TextColor="t" ShadowColor="s" BackgroundColor="b"
              Description="d" Label="L">words<Position>1,2</Position><Content>Polyp here</Content></Text></A>)",
         {{{"backgroundColor", "b"},
           {"content", "Polyp here"},
           {"description", "d"},
           {"index", "1"},
           {"label", "L"},
           {"labelColor", "l"},
           {"position", "1,2"},
           {"shadowColor", "s"},
           {"textColor", "t"}}}},
        {"arrow text: the Text child is its text",
         ParseArrowTextAnnotations,
         R"(<A><ArrowText Index="1" Color="c" TextColor="t" ShadowColor="s" BackgroundColor="b">
              <Text>see here</Text><StartPoint>1,1</StartPoint><EndPoint>2,2</EndPoint><Center>3,3</Center>
            </ArrowText></A>)",
         {{{"backgroundColor", "b"},
           {"center", "3,3"},
           {"color", "c"},
           {"description", ""},
           {"end_point", "2,2"},
           {"index", "1"},
           {"label", ""},
           {"shadowColor", "s"},
           {"start_point", "1,1"},
           {"text", "see here"},
           {"textColor", "t"}}}},
        {"cobb angle: sub-part points and first centres",
         ParseCobbAngleAnnotations,
         R"(<A><CobbAngle Index="1" Color="c">
              <PolyLine><Point>1,1</Point><G><Point>2,2</Point><Center>7,7</Center></G><Center>8,8</Center></PolyLine>
              <Angle><Point>3,3</Point><Center>9,9</Center></Angle><Point>0,0</Point><Center>6,6</Center>
            </CobbAngle></A>)",
         {{{"angle_center", "9,9"},
           {"angle_points", "3,3"},
           {"color", "c"},
           {"description", ""},
           {"index", "1"},
           {"label", ""},
           {"polyline_center", "7,7"},
           {"polyline_points", "1,1,2,2"}}}},
        {"point object: direct points, no center",
         ParsePointObjectAnnotations,
         R"(<A><PointObject Index="1"><Point>4,4</Point><Center>1,1</Center></PointObject></A>)",
         {{{"color", ""}, {"description", ""}, {"index", "1"}, {"label", ""}, {"points", "4,4"}}}},
        {"shapes nested in shapes and masks listed in document order",
         ParseCircleAnnotations,
         R"(<A><Circle Index="1"/><Mask Index="3"><Circle Index="2"/></Mask><Rectangle><Circle Index="3"/></Rectangle></A>)",
         {{{"center", ""},
           {"color", ""},
           {"description", ""},
           {"index", "1"},
           {"label", ""},
           {"points", ""}},
          {{"center", ""},
           {"color", ""},
           {"description", ""},
           {"index", "2"},
           {"label", ""},
           {"mask_id", "3"},
           {"points", ""}},
          {{"center", ""},
           {"color", ""},
           {"description", ""},
           {"index", "3"},
           {"label", ""},
           {"points", ""}}}},
        {"sub-parts with an Index are shapes of their own too",
         ParsePolyLineAnnotations,
         R"(<A><Deviation><PolyLine Index="5"><Point>1,1</Point></PolyLine></Deviation><CobbAngle><PolyLine/></CobbAngle></A>)",
         {{{"center", ""},
           {"color", ""},
           {"description", ""},
           {"index", "5"},
           {"label", ""},
           {"points", "1,1"}}}},
        {"the Text of an arrow text is no Text shape",
         ParseTextAnnotations,
         R"(<A><ArrowText Index="1"><Text>words</Text></ArrowText></A>)",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.read(ParseXml(c.xml)), c.expected);
    }
}

}  // namespace

namespace {

// Documents that nest shapes in shapes, containers in containers, and points, centres and text
// nodes at every depth: where a walk and a query could part ways.
class NestedDocument {
  public:
    explicit NestedDocument(unsigned seed) : random_(seed) {}

    std::string Make() { return "<Root>" + Elements(0) + "</Root>"; }

  private:
    std::string Elements(int depth) {
        static const char* const kNames[] = {
            "Polygon",  "Ellipse", "CobbAngle", "Deviation",  "FreehandContour",
            "PolyLine", "Angle",   "Points",    "AxisPoints", "Point",
            "Center",   "Mask",    "Rectangle", "Text",       "Other"};
        std::string xml;
        for (int n = Below(depth > 4 ? 2 : 5); n > 0; --n) {
            const char* name = kNames[Below(static_cast<int>(std::size(kNames)))];
            const std::string index = Below(4) == 0 ? "" : std::to_string(Below(9));
            xml += std::string("<") + name + " Index=\"" + index + "\">";
            switch (Below(4)) {
                case 0:
                    xml += std::to_string(Below(100)) + "," + std::to_string(Below(100));
                    break;
                case 1:
                    xml += "<![CDATA[7,8]]>";
                    break;
                default:
                    break;
            }
            xml += Elements(depth + 1) + "</" + name + ">";
        }
        return xml;
    }

    int Below(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }

    std::mt19937 random_;
};

// What the selections were before they became walks: XPath queries.
std::string QueriedTexts(const pugi::xml_node& shape, const std::string& query) {
    std::string joined;
    for (const pugi::xpath_node& point : shape.select_nodes(query.c_str())) {
        if (!joined.empty()) joined += ',';
        joined += point.node().text().as_string("");
    }
    return joined;
}

struct Selection {
    const char* key;
    const char* query;
    bool first;  // only the first node in document order
};

const std::map<std::string, std::vector<Selection>> kSelections{
    {"Polygon", {{"points", "Point", false}}},
    {"PolyLine", {{"points", "Point", false}}},
    {"FreehandContour", {{"points", "Points//Point", false}}},
    {"Ellipse", {{"axis_points", "AxisPoints//Point", false}, {"points", "Points//Point", false}}},
    {"CobbAngle",
     {{"polyline_points", "PolyLine//Point", false},
      {"polyline_center", "PolyLine//Center", true},
      {"angle_points", "Angle//Point", false},
      {"angle_center", "Angle//Center", true}}},
};

TEST(ShapeReaders, WalksSelectWhatTheQueriesSelect) {
    for (unsigned seed = 0; seed < 300; ++seed) {
        const pugi::xml_document doc = ParseXml(NestedDocument(seed).Make());
        const AnnotationTable all = GetAllAnnotations(doc);
        for (const auto& [kind, selections] : kSelections) {
            const pugi::xpath_node_set shapes = doc.select_nodes(("//" + kind).c_str());
            std::vector<pugi::xml_node> expected;
            for (const pugi::xpath_node& shape : shapes) {
                if (kind == "PolyLine" && !*shape.node().attribute("Index").value()) continue;
                expected.push_back(shape.node());
            }
            const FieldMapList& read = all.at(kind);
            ASSERT_EQ(read.size(), expected.size()) << "seed " << seed << ", " << kind;
            for (std::size_t i = 0; i < read.size(); ++i) {
                EXPECT_EQ(read[i].at("index"), expected[i].attribute("Index").value());
                for (const Selection& selection : selections) {
                    const std::string wanted =
                        selection.first
                            ? expected[i].select_node(selection.query).node().text().as_string("")
                            : QueriedTexts(expected[i], selection.query);
                    EXPECT_EQ(read[i].at(selection.key), wanted)
                        << "seed " << seed << ", " << kind << " " << i << ", " << selection.key;
                }
            }
        }
    }
}

}  // namespace
