#include <stdexcept>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "annoxml/coco.h"
#include "coco_fixture.h"

using annoxml::test::Capture;
using annoxml::test::Convert;
using annoxml::test::ParseXml;
using annoxml::test::WithHeader;
using Json = nlohmann::ordered_json;

namespace {

// Compared as text, so that 12 and 12.0 (integer and floating point) differ.
void ExpectJson(const Json& actual, const char* expected) {
    EXPECT_EQ(actual.dump(), Json::parse(expected).dump());
}

TEST(Annotations, Geometry) {
    const struct {
        const char* name;
        const char* body;
        const char* annotations;
    } cases[] = {
        {"rectangle",
         R"(<Rectangle Index="1" Label="Ulcer"><Point>10,20</Point><Point>50,20</Point><Point>50,80</Point><Point>10,80</Point></Rectangle>)",
         R"([{"id":1,"image_id":1,"category_id":2,"segmentation":[[10.0,20.0,50.0,20.0,50.0,80.0,10.0,80.0,10.0,20.0]],
              "bbox":[10.0,20.0,40.0,60.0],"area":2400.0,"iscrowd":0}])"},
        {"rectangle from its bottom-right corner",
         R"(<Rectangle Label="Polyp"><Point>50,80</Point><Point>10,80</Point><Point>10,20</Point><Point>50,20</Point></Rectangle>)",
         R"([{"id":1,"image_id":1,"category_id":1,"segmentation":[[50.0,80.0,10.0,80.0,10.0,20.0,50.0,20.0,50.0,80.0]],
              "bbox":[50.0,80.0,-40.0,-60.0],"area":2400.0,"iscrowd":0}])"},
        {"circle",
         R"(<Circle Label="Polyp"><Center>100,100</Center><Point>90,100</Point></Circle>)",
         R"([{"id":1,"image_id":1,"category_id":1,"segmentation":[[90.0,100.0]],
              "bbox":[90.0,90.0,20.0,20.0],"area":null,"iscrowd":0}])"},
        {"circle with its point right of the centre",
         R"(<Circle Label="Polyp"><Center>100,100</Center><Point>110,100</Point><Point>1.5,2</Point></Circle>)",
         R"([{"id":1,"image_id":1,"category_id":1,"segmentation":[[110.0,100.0,1.5,2.0]],
              "bbox":[110.0,110.0,-20.0,-20.0],"area":null,"iscrowd":0}])"},
        {"polygon: ring closed, area of the box",
         R"(<Polygon Label="Polyp"><Point>0,0</Point><Point>4,0</Point><Point>0,3</Point></Polygon>)",
         R"([{"id":1,"image_id":1,"category_id":1,"segmentation":[[0.0,0.0,4.0,0.0,0.0,3.0,0.0,0.0]],
              "bbox":[0.0,0.0,4.0,3.0],"area":12.0,"iscrowd":0}])"},
        {"mask keys",
         R"(<Mask Index="2"><Polygon Label="Polyp"><Point>0,0</Point></Polygon><Circle Label="Polyp"><Center>1,1</Center><Point>0,1</Point></Circle>
                          <Rectangle Label="Polyp"><Point>0,0</Point><Point>0,0</Point><Point>1,1</Point></Rectangle></Mask>)",
         R"([{"id":1,"image_id":1,"category_id":1,"segmentation":[[0.0,0.0,1.0,0.0,1.0,1.0,0.0,1.0,0.0,0.0]],"bbox":[0.0,0.0,1.0,1.0],"area":1.0,"iscrowd":0,"mask_id":"2"},
             {"id":2,"image_id":1,"category_id":1,"segmentation":[[0.0,1.0]],"bbox":[0.0,0.0,2.0,2.0],"area":null,"iscrowd":0,"mask_id":"2"},
             {"id":3,"image_id":1,"category_id":1,"segmentation":[[0.0,0.0,0.0,0.0]],"bbox":[0.0,0.0,0.0,0.0],"area":0.0,"iscrowd":0,"maskId":"2"}])"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectJson(Convert(WithHeader(c.body))["annotations"], c.annotations);
    }
}

TEST(Annotations, OneCounterAcrossKindsInKindOrder) {
    const Json annotations = Convert(WithHeader(R"(
        <Polygon Index="p1" Label="Polyp"><Point>0,0</Point></Polygon>
        <Circle Index="c1" Label="Polyp"><Center>1,1</Center><Point>0,1</Point></Circle>
        <Rectangle Index="r1" Label="Polyp"><Point>0,0</Point><Point>0,0</Point><Point>1,1</Point></Rectangle>
        <Polygon Index="p2" Label="Ulcer"><Point>0,0</Point></Polygon>
        <Rectangle Index="r2" Label="Ulcer"><Point>0,0</Point><Point>0,0</Point><Point>1,1</Point></Rectangle>
        <Polygon Index="p3" Label="Polyp"><Point>0,0</Point></Polygon>
        <Ellipse Label="nowhere"/><FreehandContour Label="nowhere"/>)"))["annotations"];
    ASSERT_EQ(annotations.size(), 6u);
    const int expectedCategories[] = {1, 2, 1, 1, 2, 1};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(annotations[i]["id"], i + 1);
        EXPECT_EQ(annotations[i]["category_id"], expectedCategories[i]);
    }
    EXPECT_EQ(annotations[2]["bbox"], Json::parse("[0.0,0.0,2.0,2.0]")) << "the circle is third";
}

TEST(Masks, NumberedInDocumentOrder) {
    ExpectJson(
        Convert(WithHeader(
            R"(<Mask Index="5" Color="red" Description="first"/><G><Mask/></G><Mask Index="a"/>)"))
            ["masks"],
        R"([{"id":1,"description":"first","index":"5","color":"red"},
                   {"id":2,"description":"","index":"","color":""},
                   {"id":3,"description":"","index":"a","color":""}])");
}

TEST(Annotations, ShapesThatCannotBeConvertedNameTheShape) {
    const struct {
        const char* body;
        const char* message;
    } cases[] = {
        {R"(<Rectangle Index="3" Label="Polyp"><Point>1,2</Point><Point>3,4</Point></Rectangle>)",
         "Rectangle with Index 3 has 4 coordinates; 6 are needed"},
        {R"(<Rectangle Label="Polyp"><Point>1,2</Point><Point>3,x</Point><Point>5,6</Point></Rectangle>)",
         "Rectangle without Index has 5 coordinates; 6 are needed"},
        {R"(<Polygon Index="7" Label="Polyp"/>)",
         "Polygon with Index 7 has 0 coordinates; 2 are needed"},
        {R"(<Polygon Index="7" Label="Polyp"><Point>1,2</Point><Point>3</Point></Polygon>)",
         "Polygon with Index 7 has 3 coordinates; an even number is needed"},
        {R"(<Circle Index="c" Label="Polyp"><Center>1,1</Center></Circle>)",
         "Circle with Index c has 0 coordinates; 2 are needed"},
        {R"(<Circle Index="c" Label="Polyp"><Center>1</Center><Point>0,0</Point></Circle>)",
         "Circle with Index c has 1 centre coordinates; 2 are needed"},
        {R"(<Polygon Index="8" Label="Polyp"><Point>nan,1</Point></Polygon>)",
         "Polygon with Index 8 has a coordinate, size or area that is not a finite number"},
        {R"(<Circle Index="9" Label="Polyp"><Center>inf,1</Center><Point>0,0</Point></Circle>)",
         "Circle with Index 9 has a coordinate, size or area that is not a finite number"},
        {R"(<Rectangle Index="4" Label="Polyp"><Point>-1e300,0</Point><Point>0,0</Point><Point>1e300,1e300</Point></Rectangle>)",
         "Rectangle with Index 4 has a coordinate, size or area that is not a finite number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        try {
            Capture(std::cerr, [&] { Convert(WithHeader(c.body)); });
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
    }
}

TEST(Annotations, UnknownLabelIsOutOfRange) {
    for (const char* body : {R"(<Polygon Label="Bleeding"><Point>1,2</Point></Polygon>)",
                             R"(<Circle><Center>1,1</Center><Point>0,1</Point></Circle>)"}) {
        SCOPED_TRACE(body);
        try {
            Convert(WithHeader(body));
            ADD_FAILURE() << "no error";
        } catch (const std::out_of_range& error) {
            EXPECT_STREQ(error.what(), "invalid map<K, T> key");
        }
    }
}

// Labels resolve against the file's own label list only, never an earlier file's.
TEST(Annotations, EarlierConversionsDoNotLendTheirLabels) {
    Convert(WithHeader("", "Bleeding"));
    EXPECT_THROW(
        Convert(WithHeader(R"(<Polygon Label="Bleeding"><Point>1,2</Point></Polygon>)", "Polyp")),
        std::out_of_range);
}

// GetAnnotations and the shape converters use the label list of the last conversion.
TEST(Annotations, PublicConvertersUseTheLastConversionsLabels) {
    Convert(WithHeader("", "Polyp,Ulcer,Bleeding"));
    const pugi::xml_document doc = ParseXml(R"(<A>
        <Polygon Label="Bleeding"><Point>1,2</Point></Polygon>
        <Rectangle Label="Ulcer"><Point>0,0</Point><Point>0,0</Point><Point>1,1</Point></Rectangle></A>)");
    const Json annotations = GetAnnotations(doc);
    ASSERT_EQ(annotations.size(), 2u);
    EXPECT_EQ(annotations[0]["category_id"], 2);
    EXPECT_EQ(annotations[1]["category_id"], 3);

    Json appended;
    int nextId = 10;
    GetPolygons(doc, appended, nextId);
    GetRectangles(doc, appended, nextId);
    GetCircles(doc, appended, nextId);
    EXPECT_EQ(nextId, 12);
    EXPECT_EQ(appended[0]["id"], 10);
    EXPECT_EQ(appended[1]["id"], 11);

    Convert(WithHeader("", "Polyp"));
    EXPECT_THROW(GetAnnotations(doc), std::out_of_range);
}

TEST(Annotations, ConverterStopsAtTheFailingShape) {
    Convert(WithHeader("", "Polyp"));
    const pugi::xml_document doc = ParseXml(R"(<A>
        <Polygon Label="Polyp"><Point>1,2</Point></Polygon><Polygon Label="Other"><Point>1,2</Point></Polygon></A>)");
    Json annotations;
    int nextId = 1;
    EXPECT_THROW(GetPolygons(doc, annotations, nextId), std::out_of_range);
    EXPECT_EQ(annotations.size(), 1u);
    EXPECT_EQ(nextId, 2);
}

}  // namespace
