#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "annoxml/stats.h"
#include "frame_fixture.h"

using namespace annoxml;
using annoxml::test::MakeBox;
using annoxml::test::MakeFrame;
using annoxml::test::MakeMark;
using annoxml::test::MakeRegion;
using testing::HasSubstr;

namespace {

// Two frames with regions in and out of masks, one without regions, one failure.
Statistics SmallStudy() {
    Statistics statistics;
    Frame first = MakeFrame("a.png");
    first.labels = {{"Polyp", "#E53935"}, {"Ulcer", "#FB8C00"}};
    first.masks = {{"1", "Polyp area", "#E5393580"}};
    first.regions = {MakeBox("1", "Polyp", 0, 0, 1, 1),
                     MakeRegion(ShapeKind::Circle, "2", "Polyp", {{0, 0}, {1, 0}, {0, 1}}, "1"),
                     MakeRegion(ShapeKind::Ellipse, "3", "Ulcer", {{0, 0}, {1, 0}, {0, 1}})};
    first.marks = {MakeMark(ShapeKind::Ruler, "4", {{{0, 0}, {1, 1}}}),
                   MakeMark(ShapeKind::Ruler, "5", {{{0, 0}, {1, 1}}})};
    Frame second = MakeFrame("b.png");
    second.labels = {{"Blutung", "#8E24AA"}, {"Polyp", "#000000"}};
    second.regions = {MakeBox("1", "Blutung", 0, 0, 1, 1)};
    Frame empty = MakeFrame("c.png");
    empty.labels = {{"Œdème", ""}};
    empty.marks = {MakeMark(ShapeKind::Text, "1", {{{0, 0}}}, "note")};
    statistics.Add(first);
    statistics.Add(second);
    statistics.Add(empty);
    statistics.AddFailure("d.xml", "Circle with Index 3: no Center");
    return statistics;
}

TEST(Statistics, CountsFramesShapesCategoriesMasksAndFailures) {
    const Statistics statistics = SmallStudy();
    EXPECT_EQ(statistics.frames(), 3u);
    EXPECT_EQ(statistics.framesWithoutRegions(), 1u);
    EXPECT_EQ(statistics.regions(), 4u);
    EXPECT_EQ(statistics.marks(), 3u);
    EXPECT_EQ(statistics.masks(), 1u);
    EXPECT_EQ(statistics.regionsInMasks(), 1u);
    const struct {
        ShapeKind kind;
        std::size_t count;
    } kinds[] = {{ShapeKind::Rectangle, 2}, {ShapeKind::Circle, 1}, {ShapeKind::Ellipse, 1},
                 {ShapeKind::Polygon, 0},   {ShapeKind::Ruler, 2},  {ShapeKind::Text, 1},
                 {ShapeKind::Deviation, 0}};
    for (const auto& c : kinds) {
        EXPECT_EQ(statistics.shapes(c.kind), c.count) << KindName(c.kind);
    }
    ASSERT_EQ(statistics.failures().size(), 1u);
    EXPECT_EQ(statistics.failures()[0].path, "d.xml");
}

TEST(Statistics, CategoriesInOrderOfFirstAppearanceWithTheirFirstColour) {
    const Statistics statistics = SmallStudy();
    std::vector<std::tuple<std::string, std::string, std::size_t>> categories;
    for (const CategoryCount& c : statistics.categories()) {
        categories.emplace_back(c.name, c.color, c.regions);
    }
    EXPECT_EQ(categories, (std::vector<std::tuple<std::string, std::string, std::size_t>>{
                              {"Polyp", "#E53935", 2},
                              {"Ulcer", "#FB8C00", 1},
                              {"Blutung", "#8E24AA", 1},
                              {"Œdème", "", 0}}));
}

TEST(Statistics, JsonHoldsEveryCountAndEveryKind) {
    const nlohmann::json json = nlohmann::json::parse(StatisticsJson(SmallStudy()));
    const nlohmann::json expected = nlohmann::json::parse(R"({
        "frames": 3, "frames_without_regions": 1, "regions": 4, "marks": 3, "masks": 1,
        "regions_in_masks": 1,
        "shapes": {"Rectangle": 2, "Polygon": 0, "Circle": 1, "FreehandContour": 0, "Ellipse": 1,
                   "Line": 0, "Ruler": 2, "Text": 1, "ArrowText": 0, "PolyLine": 0,
                   "FreehandPolyLine": 0, "Angle": 0, "PointObject": 0, "CobbAngle": 0,
                   "Deviation": 0},
        "categories": [{"name": "Polyp", "color": "#E53935", "regions": 2},
                       {"name": "Ulcer", "color": "#FB8C00", "regions": 1},
                       {"name": "Blutung", "color": "#8E24AA", "regions": 1},
                       {"name": "Œdème", "color": "", "regions": 0}],
        "failures": 1,
        "failed": [{"path": "d.xml", "message": "Circle with Index 3: no Center"}]})");
    EXPECT_EQ(json, expected);
}

TEST(Statistics, JsonCompactByDefaultAndIndentedOnRequest) {
    const Statistics empty;
    EXPECT_EQ(StatisticsJson(empty).find('\n'), std::string::npos);
    EXPECT_THAT(StatisticsJson(empty, 2), HasSubstr("\n  \"frames\": 0,\n"));
}

TEST(Statistics, TableAlignsItsColumnsByCharactersNotBytes) {
    const std::string table = StatisticsTable(SmallStudy());
    EXPECT_THAT(table, HasSubstr("Frames\n  frames            3\n  without regions   1\n"));
    EXPECT_THAT(table, HasSubstr("  FreehandPolyLine  0\n"));
    EXPECT_THAT(table, HasSubstr("Regions per category\n  Polyp    2\n  Ulcer    1\n  Blutung  1\n"
                                 "  Œdème    0\n"));
    EXPECT_THAT(table, HasSubstr("Failed files\n  d.xml: Circle with Index 3: no Center\n"));
}

}  // namespace
