#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "annoxml/frame.h"
#include "frame_text.h"
#include "test_xml.h"

using annoxml::Frame;
using annoxml::FrameError;
using annoxml::Point;
using annoxml::ReadFrame;
using annoxml::Region;
using annoxml::ShapeKind;
using annoxml::test::ParseXml;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string Document(const std::string& shapes, const std::string& header = "") {
    return "<Annotation><ImageInformation><FileName>f.png</FileName><Height>480</Height>"
           "<Width>640</Width></ImageInformation><User UserID=\"u\" Time=\"t\"/>" +
           header + "<LabelList><Label LabelType=\"Polyp\" LabelColor=\"#f00\"/></LabelList>" +
           shapes + "</Annotation>";
}

// Both ways of reading must agree, frame, problems and errors: from a file, which takes the short
// way for plain documents, and from the parser's tree, loaded by `load`.
template <typename Load>
void ExpectFileReadsAsTree(const std::string& path, Load load) {
    for (const bool collect : {false, true}) {
        SCOPED_TRACE(collect ? "collecting problems" : "stopping at the first");
        using Problems = std::vector<std::string>*;
        EXPECT_EQ(annoxml::test::ReadingText([&](Problems problems) {
                      return ReadFrame(path, collect ? problems : nullptr);
                  }),
                  annoxml::test::ReadingText([&](Problems problems) {
                      return ReadFrame(load(), path, collect ? problems : nullptr);
                  }));
    }
}

// LoadXml without its echo of the path.
pugi::xml_document LoadQuietly(const std::string& path) {
    testing::internal::CaptureStdout();
    try {
        pugi::xml_document doc = LoadXml(path);
        testing::internal::GetCapturedStdout();
        return doc;
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
}

Frame Read(const std::string& xml) {
    static const annoxml::test::TempDir dir;
    const pugi::xml_document doc = ParseXml(xml);
    ExpectFileReadsAsTree(dir.Write("frame.xml", xml),
                          [&]() -> const pugi::xml_document& { return doc; });
    return ReadFrame(doc, "frame.xml");
}

// To the nearest hundredth of a pixel, ties to even: how sampled vertices are stored.
double R(double value) { return std::nearbyint(value * 100) / 100; }

// Vertex i of n at the angle 2*pi*i/n on the ellipse around (cx, cy) with semi-axes a, along the
// direction (cosAxis, sinAxis), and b; rounded.
std::vector<Point> Sampled(int n, Point center, double a, double b, double cosAxis = 1,
                           double sinAxis = 0) {
    std::vector<Point> outline;
    for (int i = 0; i < n; ++i) {
        const double u = a * std::cos(2 * kPi * i / n);
        const double v = b * std::sin(2 * kPi * i / n);
        outline.push_back(
            {R(center.x + u * cosAxis - v * sinAxis), R(center.y + u * sinAxis + v * cosAxis)});
    }
    return outline;
}

double Shoelace(const std::vector<Point>& outline) {
    double twice = 0;
    for (std::size_t i = 0, j = outline.size() - 1; i < outline.size(); j = i++) {
        twice += (outline[j].x + outline[i].x) * (outline[i].y - outline[j].y);
    }
    return std::abs(twice) / 2;
}

struct GeometryCase {
    const char* name;
    std::string shape;
    std::vector<Point> outline;  // empty: checked by vertexCount instead
    std::size_t vertexCount;
    double area;
    annoxml::Box box;
};

const GeometryCase kGeometry[] = {
    {"rectangle",
     "<Rectangle Index='1' Label='Polyp'><Point>10,20</Point><Point>50,20</Point>"
     "<Point>50,80</Point><Point>10,80</Point></Rectangle>",
     {{10, 20}, {50, 20}, {50, 80}, {10, 80}},
     4,
     2400,
     {10, 20, 40, 60}},
    {"rectangle from its bottom-right corner",
     "<Rectangle Index='1' Label='Polyp'><Point>50,80</Point><Point>10,80</Point>"
     "<Point>10,20</Point><Point>50,20</Point></Rectangle>",
     {{10, 20}, {50, 20}, {50, 80}, {10, 80}},
     4,
     2400,
     {10, 20, 40, 60}},
    {"polygon: the triangle's own area, not its box's",
     "<Polygon Index='1' Label='Polyp'><Point>0,0</Point><Point>4,0</Point><Point>0,3</Point>"
     "</Polygon>",
     {{0, 0}, {4, 0}, {0, 3}},
     3,
     6,
     {0, 0, 4, 3}},
    {"polygon with fractional and negative coordinates",
     "<Polygon Index='1' Label='Polyp'><Point>-1.5,0.5</Point><Point>2.5,0.5</Point>"
     "<Point> 2.5 , 2.5 </Point><Point>-1.5,2.5</Point></Polygon>",
     {{-1.5, 0.5}, {2.5, 0.5}, {2.5, 2.5}, {-1.5, 2.5}},
     4,
     8,
     {-1.5, 0.5, 4, 2}},
    {"freehand contour, points below Points",
     "<FreehandContour Index='1' Label='Polyp'><Points><Point>0,0</Point><Point>2,0</Point>"
     "<Group><Point>2,2</Point></Group><Point>0,2</Point></Points><Point>9,9</Point>"
     "</FreehandContour>",
     {{0, 0}, {2, 0}, {2, 2}, {0, 2}},
     4,
     4,
     {0, 0, 2, 2}},
    // r = 10 from a point straight above the centre: ceil(pi / acos(1 - 0.243 / 10)) = 15.
    {"circle, radius in any direction",
     "<Circle Index='1' Label='Polyp'><Center>100,100</Center><Point>100,90</Point></Circle>",
     Sampled(15, {100, 100}, 10, 10),
     15,
     Shoelace(Sampled(15, {100, 100}, 10, 10)),
     {R(100 + 10 * std::cos(2 * kPi * 7 / 15)), R(100 - 10 * std::sin(2 * kPi * 4 / 15)),
      110 - R(100 + 10 * std::cos(2 * kPi * 7 / 15)),
      R(100 + 10 * std::sin(2 * kPi * 4 / 15)) - R(100 - 10 * std::sin(2 * kPi * 4 / 15))}},
    {"tiny circle keeps 8 vertices",
     "<Circle Index='1' Label='Polyp'><Center>5,5</Center><Point>5.1,5</Point></Circle>",
     {{5.1, 5},
      {5.07, 5.07},
      {5, 5.1},
      {4.93, 5.07},
      {4.9, 5},
      {4.93, 4.93},
      {5, 4.9},
      {5.07, 4.93}},
     8,
     8 * (0.1 * 0.07) / 2,
     {4.9, 4.9, 0.2, 0.2}},
    {"ellipse from its Points",
     "<Ellipse Index='1' Label='Polyp'><AxisPoints><Point>0,0</Point><Point>9,0</Point>"
     "</AxisPoints><HeightPoint>3,3</HeightPoint><Points><Point>0,0</Point><Point>6,0</Point>"
     "<Point>6,2</Point></Points></Ellipse>",
     {{0, 0}, {6, 0}, {6, 2}},
     3,
     6,
     {0, 0, 6, 2}},
    {"ellipse from its Points keeps them exactly",
     "<Ellipse Index='1' Label='Polyp'><Points><Point>0.123456,0</Point><Point>6,0.001</Point>"
     "<Point>6,2.0000005</Point></Points></Ellipse>",
     {{0.123456, 0}, {6, 0.001}, {6, 2.0000005}},
     3,
     Shoelace({{0.123456, 0}, {6, 0.001}, {6, 2.0000005}}),
     {0.123456, 0, 6 - 0.123456, 2.0000005}},
    // a = 10 along x around (10, 0), b = 5: the height point's distance from the axis line.
    {"ellipse from AxisPoints and HeightPoint",
     "<Ellipse Index='1' Label='Polyp'><AxisPoints><Point>0,0</Point><Point>20,0</Point>"
     "</AxisPoints><HeightPoint>3,-5</HeightPoint></Ellipse>",
     Sampled(15, {10, 0}, 10, 5),
     15,
     Shoelace(Sampled(15, {10, 0}, 10, 5)),
     {R(10 + 10 * std::cos(2 * kPi * 7 / 15)), R(-5 * std::sin(2 * kPi * 4 / 15)),
      20 - R(10 + 10 * std::cos(2 * kPi * 7 / 15)), 2 * R(5 * std::sin(2 * kPi * 4 / 15))}},
    {"ellipse along y",
     "<Ellipse Index='1' Label='Polyp'><AxisPoints><Point>0,0</Point><Point>0,20</Point>"
     "</AxisPoints><HeightPoint>5,7</HeightPoint></Ellipse>",
     Sampled(15, {0, 10}, 10, 5, 0, 1),
     15,
     Shoelace(Sampled(15, {0, 10}, 10, 5, 0, 1)),
     {R(-5 * std::sin(2 * kPi * 4 / 15)), R(10 + 10 * std::cos(2 * kPi * 7 / 15)),
      2 * R(5 * std::sin(2 * kPi * 4 / 15)), 20 - R(10 + 10 * std::cos(2 * kPi * 7 / 15))}},
};

TEST(FrameGeometry, OutlineAreaAndBoxPerKind) {
    for (const GeometryCase& c : kGeometry) {
        SCOPED_TRACE(c.name);
        const Frame frame = Read(Document(c.shape));
        ASSERT_EQ(frame.regions.size(), 1u);
        const Region& region = frame.regions[0];
        ASSERT_EQ(region.outline.size(), c.vertexCount);
        for (std::size_t i = 0; i < c.outline.size(); ++i) {
            EXPECT_DOUBLE_EQ(region.outline[i].x, c.outline[i].x) << "vertex " << i;
            EXPECT_DOUBLE_EQ(region.outline[i].y, c.outline[i].y) << "vertex " << i;
        }
        EXPECT_NEAR(region.area, c.area, 1e-9);
        EXPECT_NEAR(region.box.x, c.box.x, 1e-9);
        EXPECT_NEAR(region.box.y, c.box.y, 1e-9);
        EXPECT_NEAR(region.box.width, c.box.width, 1e-9);
        EXPECT_NEAR(region.box.height, c.box.height, 1e-9);
    }
}

// Every vertex is a whole number of hundredths within the rounding's reach of the circle, and no
// point of any edge strays more than 0.25 px from the circle, for radii on both sides of each
// change of vertex count and centres with fractions.
TEST(FrameGeometry, CircleOutlineStaysWithinAQuarterPixel) {
    std::mt19937 random(25);
    std::uniform_real_distribution<double> radii(0.01, 3000);
    std::uniform_real_distribution<double> centres(-500, 2500);
    std::vector<double> radiusList = {0.2, 1.0, 10.0, 123.4, 1000.0, 9999.99};
    for (int i = 0; i < 300; ++i) radiusList.push_back(radii(random));
    double worst = 0;
    for (const double asked : radiusList) {
        const Point center{R(centres(random)), R(centres(random))};
        char text[128];
        std::snprintf(text, sizeof text, "%.17g,%.17g</Center><Point>%.17g,%.17g", center.x,
                      center.y, center.x + asked, center.y);
        const Frame frame = Read(Document(std::string("<Circle Index='1' Label='Polyp'><Center>") +
                                          text + "</Point></Circle>"));
        const double radius = asked + center.x - center.x;  // as the file states it
        const std::vector<Point>& outline = frame.regions.at(0).outline;
        SCOPED_TRACE(text);
        ASSERT_GE(outline.size(), 8u);
        const auto off = [&](Point p) {
            return std::abs(std::hypot(p.x - center.x, p.y - center.y) - radius);
        };
        for (std::size_t i = 0; i < outline.size(); ++i) {
            const Point a = outline[i];
            const Point b = outline[(i + 1) % outline.size()];
            ASSERT_EQ(a.x, R(a.x));
            ASSERT_EQ(a.y, R(a.y));
            ASSERT_LE(off(a), 0.0071);
            for (int k = 1; k < 8; ++k) {
                const double t = k / 8.0;
                const double stray = off({a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t});
                worst = std::max(worst, stray);
                ASSERT_LE(stray, 0.25);
            }
        }
    }
    EXPECT_GT(worst, 0.2);  // the bound is used, not far from met
}

// Vertex i of n is the radius times cos and sin of 2*pi*i/n, rounded, whichever sizes came before:
// the angles are computed once per vertex count, and counts past 256 are computed each time.
TEST(FrameGeometry, CircleVerticesAreTheSampledAnglesExactly) {
    for (const double radius : {10.0, 5000.0, 123.4, 10.0, 7000.0, 5000.0, 0.2}) {
        SCOPED_TRACE(radius);
        const std::string text = std::to_string(radius);
        const Frame frame =
            Read(Document("<Circle Index='1' Label='Polyp'><Center>0,0</Center><Point>" + text +
                          ",0</Point></Circle>"));
        const std::vector<Point>& outline = frame.regions.at(0).outline;
        const double read = std::stod(text);
        // Edges stray at most a quarter pixel from the circle: r * (1 - cos(pi / n)), plus the
        // half hundredth along x and y that rounding may move the ends, is at most 0.25.
        const double leeway = 0.25 - 0.005 * std::sqrt(2.0);
        const int n = std::max(8, static_cast<int>(std::ceil(kPi / std::acos(1 - leeway / read))));
        ASSERT_EQ(outline.size(), static_cast<std::size_t>(n));
        if (radius >= 5000) {
            ASSERT_GT(n, 256);
        }
        for (int i = 0; i < n; ++i) {
            const double t = 2 * kPi * i / n;
            ASSERT_EQ(outline[i].x, R(read * std::cos(t))) << i;
            ASSERT_EQ(outline[i].y, R(read * std::sin(t))) << i;
        }
    }
}

TEST(FrameReader, HeaderLabelsMasksAndShapeFields) {
    const Frame frame = Read(
        "<Annotation><ImageInformation><FileName>a/b.png</FileName><Height> 1080 </Height>"
        "<Width>1350</Width></ImageInformation><User UserID='j' Time='2026/02/11 15:20:41'/>"
        "<LabelList><Label LabelType='Polyp' LabelColor='#E53935'/><Label LabelType='Ulcer'/>"
        "</LabelList>"
        "<Mask Index='2' Description='lesion' Color='#00f'>"
        "<Polygon Index='7' Label='Ulcer' Description='d' Color='#0f0'><Point>0,0</Point>"
        "<Point>1,0</Point><Point>0,1</Point></Polygon>"
        "<Group><Rectangle Index='8' Label='Polyp'><Point>0,0</Point><Point>1,0</Point>"
        "<Point>1,1</Point></Rectangle></Group></Mask></Annotation>");
    EXPECT_EQ(frame.source, "frame.xml");
    EXPECT_EQ(frame.fileName, "a/b.png");
    EXPECT_EQ(frame.width, 1350);
    EXPECT_EQ(frame.height, 1080);
    EXPECT_EQ(frame.user, "j");
    EXPECT_EQ(frame.captured, "2026/02/11 15:20:41");
    ASSERT_EQ(frame.labels.size(), 2u);
    EXPECT_EQ(frame.labels[0].name, "Polyp");
    EXPECT_EQ(frame.labels[0].color, "#E53935");
    EXPECT_EQ(frame.labels[1].name, "Ulcer");
    ASSERT_EQ(frame.masks.size(), 1u);
    EXPECT_EQ(frame.masks[0].index, "2");
    EXPECT_EQ(frame.masks[0].description, "lesion");
    EXPECT_EQ(frame.masks[0].color, "#00f");
    ASSERT_EQ(frame.regions.size(), 2u);
    const Region& polygon = frame.regions[0];
    EXPECT_EQ(polygon.kind, ShapeKind::Polygon);
    EXPECT_EQ(polygon.index, "7");
    EXPECT_EQ(polygon.label, "Ulcer");
    EXPECT_EQ(polygon.description, "d");
    EXPECT_EQ(polygon.color, "#0f0");
    EXPECT_EQ(polygon.mask, std::optional<std::string>("2"));
    // Only a Mask that is the direct parent counts.
    EXPECT_EQ(frame.regions[1].kind, ShapeKind::Rectangle);
    EXPECT_EQ(frame.regions[1].mask, std::nullopt);
}

TEST(FrameReader, MarksKeepTheirPointsAndSubPartsAreNotShapes) {
    const Frame frame = Read(Document(
        "<Line Index='1' Label='x'><StartPoint>1,2</StartPoint><EndPoint>3,4</EndPoint></Line>"
        "<ArrowText Index='2'><StartPoint>0,0</StartPoint><EndPoint>5,5</EndPoint>"
        "<Text>look</Text></ArrowText>"
        "<Text Index='3' TextColor='#fff'><Position>7,8</Position><Content>hi</Content></Text>"
        "<CobbAngle Index='4'><PolyLine><Point>0,0</Point><Point>1,1</Point></PolyLine>"
        "<Angle><Point>2,2</Point></Angle></CobbAngle>"
        "<PolyLine Index=''><Point>0,0</Point></PolyLine>"
        "<Angle Index='5'><Point>1,1</Point><Point>2,1</Point><Point>2,2</Point></Angle>"
        "<FreehandPolyLine Index='6'><Points><Point>1,1</Point></Points></FreehandPolyLine>"
        "<PointObject Index='7'><Point>4,4</Point></PointObject>"
        "<Ruler Index='8'><StartPoint>0,0</StartPoint><EndPoint>3,4</EndPoint></Ruler>"
        "<Deviation Index='9'><PolyLine><Point>0,0</Point></PolyLine>"
        "<Angle><Point>1,1</Point><Point>2,2</Point></Angle></Deviation>"
        // Names near those of shapes are no shapes.
        "<Lines Index='10'><StartPoint>0,0</StartPoint></Lines><rectangle Index='11'/>"
        "<_Circle Index='12'/><Poly Index='13'/><PolygonS Index='14'/>"));
    EXPECT_TRUE(frame.regions.empty());
    struct Expected {
        ShapeKind kind;
        std::vector<std::size_t> partSizes;
        std::string text;
    };
    const std::vector<Expected> expected{
        {ShapeKind::Line, {2}, ""},         {ShapeKind::ArrowText, {2}, "look"},
        {ShapeKind::Text, {1}, "hi"},       {ShapeKind::CobbAngle, {2, 1}, ""},
        {ShapeKind::Angle, {3}, ""},        {ShapeKind::FreehandPolyLine, {1}, ""},
        {ShapeKind::PointObject, {1}, ""},  {ShapeKind::Ruler, {2}, ""},
        {ShapeKind::Deviation, {1, 2}, ""},
    };
    ASSERT_EQ(frame.marks.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(annoxml::KindName(expected[i].kind));
        EXPECT_EQ(frame.marks[i].kind, expected[i].kind);
        std::vector<std::size_t> sizes;
        for (const auto& part : frame.marks[i].parts) sizes.push_back(part.size());
        EXPECT_EQ(sizes, expected[i].partSizes);
        EXPECT_EQ(frame.marks[i].text, expected[i].text);
    }
    EXPECT_DOUBLE_EQ(frame.marks[0].parts[0][1].y, 4);
    EXPECT_EQ(frame.marks[2].color, "#fff");
}

struct FailureCase {
    const char* name;
    std::string xml;
    std::string detail;
};

const std::string kTriangle = "<Point>0,0</Point><Point>4,0</Point><Point>0,3</Point>";

const FailureCase kFailures[] = {
    {"circle without centre",
     Document("<Circle Index='3' Label='Polyp'><Point>1,1</Point></Circle>"),
     "Circle with Index 3: no Center"},
    {"circle without point",
     Document("<Circle Index='3' Label='Polyp'><Center>1,1</Center></Circle>"),
     "Circle with Index 3: 0 points, needs at least 1"},
    {"centre of three numbers",
     Document("<Circle Index='3' Label='Polyp'><Center>1,1,1</Center><Point>1,1</Point></Circle>"),
     "Circle with Index 3: Center \"1,1,1\" is not one point"},
    {"label misspelt", Document("<Polygon Index='7' Label='Polpy'>" + kTriangle + "</Polygon>"),
     "Polygon with Index 7: label \"Polpy\" is not in the label list"},
    {"label in another case",
     Document("<Polygon Index='7' Label='polyp'>" + kTriangle + "</Polygon>"),
     "Polygon with Index 7: label \"polyp\" is not in the label list"},
    {"empty label", Document("<Polygon Index='7'>" + kTriangle + "</Polygon>"),
     "Polygon with Index 7: no label"},
    {"polygon of two points",
     Document("<Polygon Index='1' Label='Polyp'><Point>0,0</Point><Point>1,1</Point></Polygon>"),
     "Polygon with Index 1: 2 points, needs at least 3"},
    {"freehand contour of one point",
     Document("<FreehandContour Index='2' Label='Polyp'><Points><Point>0,0</Point></Points>"
              "</FreehandContour>"),
     "FreehandContour with Index 2: 1 point, needs at least 3"},
    {"rectangle of two points",
     Document("<Rectangle Label='Polyp'><Point>0,0</Point><Point>1,1</Point></Rectangle>"),
     "Rectangle without Index: 2 points, needs at least 3"},
    {"ellipse without enough of anything",
     Document("<Ellipse Index='4' Label='Polyp'><AxisPoints><Point>0,0</Point><Point>2,0</Point>"
              "</AxisPoints></Ellipse>"),
     "Ellipse with Index 4: neither 3 or more Points nor AxisPoints and a HeightPoint"},
    {"not a number",
     Document("<Polygon Index='1' Label='Polyp'><Point>0,0</Point><Point>1x,0</Point>"
              "<Point>0,3</Point></Polygon>"),
     "Polygon with Index 1: \"1x\" is not a number"},
    {"two signs",
     Document("<Polygon Index='1' Label='Polyp'><Point>0,0</Point><Point>+-1,0</Point>"
              "<Point>0,3</Point></Polygon>"),
     "Polygon with Index 1: \"+-1\" is not a number"},
    {"empty coordinate",
     Document("<Polygon Index='1' Label='Polyp'><Point>0,,0</Point><Point>1,0</Point>"
              "<Point>0,3</Point></Polygon>"),
     "Polygon with Index 1: \"\" is not a number"},
    {"infinite coordinate",
     Document("<Polygon Index='1' Label='Polyp'><Point>inf,0</Point><Point>1,0</Point>"
              "<Point>0,3</Point></Polygon>"),
     "Polygon with Index 1: \"inf\" is not a finite number"},
    {"coordinate out of range",
     Document("<Polygon Index='1' Label='Polyp'><Point>1e999,0</Point><Point>1,0</Point>"
              "<Point>0,3</Point></Polygon>"),
     "Polygon with Index 1: \"1e999\" is not a number"},
    {"odd count of coordinates",
     Document("<Polygon Index='1' Label='Polyp'><Point>0,0</Point><Point>1</Point>"
              "<Point>0,3</Point></Polygon>"),
     "Polygon with Index 1: an odd count of coordinates (5)"},
    {"bad number in a mark", Document("<Line Index='9'><StartPoint>a,b</StartPoint></Line>"),
     "Line with Index 9: \"a\" is not a number"},
    {"no User", "<A><ImageInformation><Height>1</Height><Width>1</Width></ImageInformation></A>",
     "no User element"},
    {"no ImageInformation", "<A><User/></A>", "no ImageInformation element"},
    {"no width", "<A><User/><ImageInformation><Height>1</Height></ImageInformation></A>",
     "ImageInformation: no Width"},
    {"height not a positive integer",
     "<A><User/><ImageInformation><Width>1</Width><Height>0</Height></ImageInformation></A>",
     "ImageInformation: Height \"0\" is not a positive integer"},
    {"fractional width",
     "<A><User/><ImageInformation><Width>1.5</Width><Height>2</Height></ImageInformation></A>",
     "ImageInformation: Width \"1.5\" is not a positive integer"},
};

TEST(FrameReader, EveryFailureNamesTheFileAndTheShape) {
    for (const FailureCase& c : kFailures) {
        SCOPED_TRACE(c.name);
        try {
            Read(c.xml);
            ADD_FAILURE() << "no error";
        } catch (const FrameError& error) {
            EXPECT_EQ(error.detail(), c.detail);
            EXPECT_EQ(error.source(), "frame.xml");
            EXPECT_EQ(std::string(error.what()), "frame.xml: " + c.detail);
        }
    }
}

// Coordinates read as from_chars reads the token without white space and one leading '+':
// hand-picked forms, and random plain decimals of up to 17 digits, which the reader takes a
// shortcut for when they have at most 15.
TEST(FrameReader, CoordinatesReadAsFromCharsReadsThem) {
    std::vector<std::string> tokens = {"0",
                                       "-0",
                                       "+2",
                                       " 1.5 ",
                                       ".5",
                                       "5.",
                                       "0.1",
                                       "1e3",
                                       "-12.375",
                                       "00012.5000",
                                       "123456789012345",
                                       "1234567890123456",
                                       "0.000000000000001",
                                       "9007199254740993",
                                       "2.2250738585072014e-308",
                                       "\t7\n"};
    std::mt19937_64 random(7);
    for (int i = 0; i < 3000; ++i) {
        std::uint64_t limit = 10;
        for (std::uint64_t length = random() % 17; length > 0; --length) limit *= 10;
        std::string digits = std::to_string(random() % limit);
        digits.insert(random() % (digits.size() + 1), ".");
        tokens.push_back((random() % 2 ? "-" : "") + digits);
    }
    for (const std::string& token : tokens) {
        SCOPED_TRACE(token);
        const Frame frame = Read(Document("<Polygon Index='1' Label='Polyp'><Point>" + token +
                                          ",0</Point><Point>1,1</Point><Point>2,0</Point>"
                                          "</Polygon>"));
        std::string_view plain = token;
        while (std::isspace(static_cast<unsigned char>(plain.front()))) plain.remove_prefix(1);
        while (std::isspace(static_cast<unsigned char>(plain.back()))) plain.remove_suffix(1);
        if (plain.front() == '+') plain.remove_prefix(1);
        double expected = 0;
        const auto [end, error] =
            std::from_chars(plain.data(), plain.data() + plain.size(), expected);
        ASSERT_TRUE(error == std::errc() && end == plain.data() + plain.size());
        const double x = frame.regions.at(0).outline.at(0).x;
        EXPECT_EQ(std::signbit(x), std::signbit(expected));
        EXPECT_EQ(x, expected);
    }
}

TEST(FrameReader, EveryFileOfTheProjectReadsAsItsTree) {
    const std::vector<std::string> files = annoxml::test::ProjectXmlFiles();
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        // Loading fails alike both ways where it fails (a declared encoding the system cannot
        // convert from).
        ExpectFileReadsAsTree(path, [&] { return LoadQuietly(path); });
    }
    EXPECT_GE(files.size(), 10u);
}

// Every text a frame keeps must be UTF-8, wherever in the document it is and whatever comes
// before it; text the frame does not keep may be anything.
TEST(FrameReader, TextThatIsNotUtf8FailsWhereItIsKept) {
    const std::string before(40, 'a');  // long enough to be searched by blocks
    const std::string bad[] = {"\x80",     "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                               "\xE2\x82", "\xFF"};
    const std::string polygon = "<Point>0,0</Point><Point>4,0</Point><Point>0,3</Point>";
    for (const std::string& bytes : bad) {
        const std::string text = before + bytes + "z";
        const std::pair<std::string, std::string> cases[] = {
            {Document("", "<Mask Index='1' Description='" + text + "'/>"), "Mask"},
            {Document("<Polygon Index='1' Label='Polyp' Color='" + text + "'>" + polygon +
                      "</Polygon>"),
             "Polygon"},
            {Document("<Text Index='2'><Content>" + text + "</Content></Text>"), "Text"},
            {Document("<Unknown>" + text + "</Unknown>"), ""},
            {Document("<Polygon Index='1' Label='Polyp'>" + polygon + "<Note>" + text +
                      "</Note></Polygon>"),
             ""},
        };
        for (const auto& [xml, where] : cases) {
            SCOPED_TRACE(xml);
            if (where.empty()) {
                EXPECT_NO_THROW(Read(xml));
            } else {
                try {
                    Read(xml);
                    ADD_FAILURE() << "no error";
                } catch (const FrameError& error) {
                    EXPECT_EQ(error.detail(), where + ": text that is not valid UTF-8");
                }
            }
        }
    }
}

// Documents that the parser reads other than as plain UTF-8 are read through its tree, and give
// what it gives.
TEST(FrameReader, DeclaredEncodingsAndMarksReadAsTheirTree) {
    const std::string body =
        Document("<Polygon Index='1' Label='Polyp'>" +
                 std::string("<Point>0,0</Point><Point>4,0</Point><Point>0,3</Point>"
                             "</Polygon>"));
    const std::string named =
        "<User UserID=\"Ren\xE9"
        "e\"/>";
    const std::string documents[] = {
        "<?xml version='1.0' encoding='ISO-8859-1'?>" + body.substr(0, 12) + named +
            body.substr(12),
        "<?xml version='1.0' encoding='latin1'?>" + body,
        "<?xml version='1.0' encoding='windows-1252'?>" + body.substr(0, 12) + named +
            body.substr(12),
        "<?xml version='1.0' encoding='UTF-16'?>" + body,
        "<?xml version='1.0' encoding='utf-8'?>" + body,
        "\xEF\xBB\xBF" + body,
        "\xFE\xFF" + body,
    };
    const annoxml::test::TempDir dir;
    for (const std::string& document : documents) {
        SCOPED_TRACE(document.substr(0, 48));
        const std::string path = dir.Write("frame.xml", document);
        ExpectFileReadsAsTree(path, [&] { return LoadQuietly(path); });
    }
}

// A thread keeps its document buffer and scratch points from one frame to the next and gives
// back what a large frame grew: each frame must read as on a fresh thread, whatever came before.
TEST(FrameReader, FramesReadAlikeWhateverTheThreadReadBefore) {
    const annoxml::test::TempDir dir;
    std::string many;  // a document past 1 MB, of shapes past a thousand points
    for (int i = 0; i < 100000; ++i) many += "<Point>" + std::to_string(i % 640) + ",1</Point>";
    const std::string rectangle = "<Rectangle Index=\"1\" Label=\"Polyp\">";
    const std::vector<std::string> paths = {
        dir.Write("small.xml",
                  Document(rectangle + "<Point>1,1</Point><Point>9,1</Point><Point>9,9</Point>"
                                       "</Rectangle>")),
        dir.Write("large.xml", Document(rectangle + many +
                                        "</Rectangle><Circle Index=\"2\" Label=\"Polyp\">"
                                        "<Center>50,50</Center>" +
                                        many + "</Circle>")),
        dir.Write("parsed.xml", Document("<!-- left to the parser --><Circle Index=\"1\" "
                                         "Label=\"Polyp\"><Center>5,5</Center><Point>1,5</Point>"
                                         "</Circle>")),
        dir.Write("odd.xml",
                  Document(rectangle + "<Point>1,1</Point><Point>9</Point></Rectangle>")),
    };
    const auto read = [](const std::string& path) {
        return annoxml::test::ReadingText(
            [&](std::vector<std::string>* problems) { return ReadFrame(path, problems); });
    };
    std::vector<std::string> fresh;
    for (const std::string& path : paths) {
        std::thread([&] { fresh.push_back(read(path)); }).join();
    }
    for (const std::size_t i : {0, 1, 2, 3, 1, 0, 2, 1, 3, 0}) {
        EXPECT_EQ(read(paths[i]), fresh[i]) << paths[i];
    }
}

TEST(FrameReader, PathFormLoadsWithoutEcho) {
    const annoxml::test::TempDir dir;
    const std::string path = dir.Write("a.xml", Document(""));
    testing::internal::CaptureStdout();
    const Frame frame = ReadFrame(path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(frame.source, path);
    EXPECT_EQ(frame.width, 640);
    EXPECT_THROW(ReadFrame(dir.File("missing.xml")), std::runtime_error);
}

}  // namespace
