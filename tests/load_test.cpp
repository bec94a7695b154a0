#include <stdexcept>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "annoxml/annoxml.h"
#include "test_xml.h"

using annoxml::test::Capture;
using annoxml::test::TempDir;
using testing::HasSubstr;
using testing::StartsWith;

namespace {

std::string LoadError(const std::string& path) {
    try {
        LoadXml(path);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    ADD_FAILURE() << "no error for " << path;
    return "";
}

TEST(LoadXml, WritesThePathWithoutLineEnd) {
    TempDir dir;
    const std::string first = dir.Write("a.xml", "<Root/>");
    const std::string second = dir.Write("b.xml", "<Root/>");
    const std::string out = Capture(std::cout, [&] {
        LoadXml(first);
        LoadXml(second);
    });
    EXPECT_EQ(out, first + second);
}

TEST(LoadXml, FailsOnFilesWithoutDocument) {
    TempDir dir;
    const struct {
        const char* name;
        const char* content;
    } cases[] = {
        {"empty.xml", ""},
        {"declaration.xml", "<?xml version=\"1.0\"?>"},
        {"comment.xml", "<!-- nothing -->"},
        {"broken.xml", "<Root><User></Root>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Write(c.name, c.content);
        std::string message;
        const std::string out = Capture(std::cout, [&] { message = LoadError(path); });
        EXPECT_EQ(out, path);
        EXPECT_THAT(message, StartsWith("Failed to load xml file: "));
        EXPECT_THAT(message, testing::Not(HasSubstr(path)));
    }
}

TEST(LoadXml, MissingFileGivesTheParserDescription) {
    TempDir dir;
    const std::string path = dir.File("missing.xml");
    std::string message;
    Capture(std::cout, [&] { message = LoadError(path); });
    EXPECT_EQ(message, "Failed to load xml file: File was not found");
}

// Every path form must give what its document form gives, and fail as LoadXml fails.
TEST(PathForms, EqualTheDocumentForms) {
    const std::string xml = R"(<Annotation>
      <Wrapper><ImageInformation><FileName>a.png</FileName><Height>480</Height></ImageInformation></Wrapper>
      <User UserID="u1" Mode="m" State="s" Time="2024-01-01"/>
      <LabelList><Label LabelType="Polyp" LabelColor="red"/></LabelList>
      <Mask Index="1" Color="c"><Rectangle Index="1" Label="Polyp"><Point>1,2</Point></Rectangle></Mask>
      <Text Index="2"><Content>hi</Content></Text>
      <CobbAngle Index="3"><PolyLine><Point>1,2</Point></PolyLine><Angle><Center>5,5</Center></Angle></CobbAngle>
    </Annotation>)";
    TempDir dir;
    const std::string path = dir.Write("file.xml", xml);
    const pugi::xml_document doc = annoxml::test::ParseXml(xml);

    Capture(std::cout, [&] {
        EXPECT_EQ(ParseImageInformation(path), ParseImageInformation(doc));
        EXPECT_EQ(ParseUserInformation(path), ParseUserInformation(doc));
        EXPECT_EQ(ParseLabelList(path), ParseLabelList(doc));
        EXPECT_EQ(ParseMask(path), ParseMask(doc));
        EXPECT_EQ(GetAllAnnotations(path), GetAllAnnotations(doc));
        const AnnotationTable table = GetAllAnnotations(doc);
        const std::pair<const char*, FieldMapList (*)(const std::string&)> shapeReaders[] = {
            {"Rectangle", ParseRectangleAnnotations},
            {"Line", ParseLineAnnotations},
            {"Polygon", ParsePolygonAnnotations},
            {"Circle", ParseCircleAnnotations},
            {"FreehandContour", ParseFreehandContourAnnotations},
            {"Ruler", ParseRulerAnnotations},
            {"Ellipse", ParseEllipseAnnotations},
            {"Text", ParseTextAnnotations},
            {"ArrowText", ParseArrowTextAnnotations},
            {"PolyLine", ParsePolyLineAnnotations},
            {"FreehandPolyLine", ParseFreehandPolyLineAnnotations},
            {"Angle", ParseAngleAnnotations},
            {"PointObject", ParsePointObjectAnnotations},
            {"CobbAngle", ParseCobbAngleAnnotations},
            {"Deviation", ParseDeviationAnnotations},
        };
        for (const auto& [kind, read] : shapeReaders) {
            SCOPED_TRACE(kind);
            EXPECT_EQ(read(path), table.at(kind));
            EXPECT_THROW(read(dir.File("missing.xml")), std::runtime_error);
        }
        EXPECT_THROW(ParseMask(dir.File("missing.xml")), std::runtime_error);
        EXPECT_THROW(GetAllAnnotations(dir.File("missing.xml")), std::runtime_error);
    });
}

}  // namespace
