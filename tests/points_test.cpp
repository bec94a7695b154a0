#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "annoxml/util.h"
#include "coco_reference.h"
#include "test_xml.h"

using annoxml::test::Capture;
using annoxml::test::ParseXml;

namespace {

const std::string kInvalid = "Invalid argument: invalid stod argument\n";
const std::string kOutOfRange = "Out of range: stod argument out of range\n";

TEST(ParsePoints, Table) {
    const struct {
        const char* text;
        std::vector<double> values;
        std::string errors;
    } cases[] = {
        {"", {}, ""},
        {"1,2,3,4", {1, 2, 3, 4}, ""},
        {"10.5,20,30,40.25", {10.5, 20, 30, 40.25}, ""},
        {"1, 2", {1, 2}, ""},
        {"1,,2", {1, 2}, kInvalid},
        {"1,2,", {1, 2}, ""},
        {",", {}, kInvalid},
        {"1,x,3", {1, 3}, kInvalid},
        {"12px,-3e2", {12, -300}, ""},
        {"1e999", {}, kOutOfRange},
        {"1e-999,5", {5}, kOutOfRange},
        {"a,,1e999,7", {7}, kInvalid + kInvalid + kOutOfRange},
        {"0x10,+4", {16, 4}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<double> values;
        const std::string errors = Capture(std::cerr, [&] { values = ParsePoints(c.text); });
        EXPECT_EQ(values, c.values);
        EXPECT_EQ(errors, c.errors);
    }
}

TEST(ParsePoints, NonFiniteTextsAreNumbers) {
    const std::vector<double> values = ParsePoints("nan,inf,-inf");
    ASSERT_EQ(values.size(), 3u);
    EXPECT_TRUE(std::isnan(values[0]));
    EXPECT_EQ(values[1], std::numeric_limits<double>::infinity());
    EXPECT_EQ(values[2], -std::numeric_limits<double>::infinity());
}

// A host that sets a locale with a decimal comma must not change how coordinates read.
TEST(ParsePoints, IgnoresTheProcessLocale) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
        GTEST_SKIP() << "no locale with a decimal comma installed";
    }
    const std::vector<double> values = ParsePoints("10.5,2");
    std::setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_EQ(values, (std::vector<double>{10.5, 2}));
}

// Plain decimals take a shortcut past strtod; every text must still read as the string-stream
// and strtod reading reads it, bit for bit, with the same reports.
TEST(ParsePoints, SameAsTheStringStreamReading) {
    const char* const pieces[] = {"0",
                                  "1",
                                  "9",
                                  "12",
                                  "-",
                                  "+",
                                  ".",
                                  "5",
                                  "e",
                                  "e-3",
                                  "00",
                                  "x",
                                  " ",
                                  ",",
                                  ",,",
                                  "7.",
                                  "-0.0",
                                  "1e",
                                  "30",
                                  "4",
                                  "999",
                                  "inf",
                                  "nan",
                                  "0x",
                                  "\t",
                                  "123456789",
                                  "0000000000000001",
                                  "0.1",
                                  "2.675",
                                  "3.14159",
                                  "0.30000000000000004"};
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> piece(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> length(0, 12);
    for (int n = 0; n < 20000; ++n) {
        std::string text;
        for (int i = length(random); i > 0; --i) {
            text += pieces[piece(random)];
            // Decimals of every length up to 18 digits, with the point anywhere.
            const int digits = length(random) + length(random) / 2;
            for (int d = 0; d < digits; ++d) text += static_cast<char>('0' + random() % 10);
            if (digits > 0 && random() % 2) text.insert(text.size() - random() % digits, ".");
        }
        SCOPED_TRACE(text);
        std::vector<double> values, expected;
        const std::string reports = Capture(std::cerr, [&] { values = ParsePoints(text); });
        const std::string expectedReports =
            Capture(std::cerr, [&] { expected = annoxml::reference::ParsePoints(text); });
        ASSERT_EQ(reports, expectedReports);
        ASSERT_EQ(values.size(), expected.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            ASSERT_EQ(std::memcmp(&values[i], &expected[i], sizeof(double)), 0)
                << values[i] << " vs " << expected[i];
        }
    }
}

TEST(CalculateBoundingBox, Table) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::vector<double> points;
        std::vector<double> box;
    } cases[] = {
        {{3, 4}, {3, 4, 3, 4}},
        {{10, 20, 0, 40, 5, 10}, {0, 10, 10, 40}},
        {{-1, -2, -3, -4}, {-3, -4, -1, -2}},
        {{1, 2, nan, nan, 3, 0}, {1, 0, 3, 2}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CalculateBoundingBox(c.points), c.box);
    }
    const std::vector<double> nanFirst = CalculateBoundingBox({nan, 1, 5, 2});
    EXPECT_TRUE(std::isnan(nanFirst[0]));
    EXPECT_TRUE(std::isnan(nanFirst[2]));
    EXPECT_EQ(nanFirst[1], 1);
    EXPECT_EQ(nanFirst[3], 2);
}

TEST(CalculateBoundingBox, RefusesListsWithoutWholePairs) {
    for (const std::vector<double>& points : {std::vector<double>{}, {1}, {1, 2, 3}}) {
        try {
            CalculateBoundingBox(points);
            ADD_FAILURE() << "no error for " << points.size() << " values";
        } catch (const std::invalid_argument& error) {
            EXPECT_THAT(error.what(), testing::HasSubstr("got " + std::to_string(points.size())));
        }
    }
}

TEST(Join, Table) {
    const struct {
        std::vector<std::string> items;
        const char* separator;
        const char* joined;
    } cases[] = {
        {{}, ",", ""},
        {{"a"}, ",", "a"},
        {{"a", "b", "c"}, ",", "a,b,c"},
        {{"", "a"}, ",", "a"},
        {{"", "a", "", "b", ""}, ",", "a,,b,"},
        {{"a", "b"}, " - ", "a - b"},
        {{"", ""}, ",", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Join(c.items, c.separator), c.joined);
    }
}

TEST(ParseLabelOnAnnotation, ReadsTheLabelAttribute) {
    const pugi::xml_document doc =
        ParseXml(R"(<A><Rectangle Label="Polyp &amp; more"/><Circle label="x"/></A>)");
    EXPECT_EQ(ParseLabelOnAnnotation(doc.child("A").child("Rectangle")), "Polyp & more");
    EXPECT_EQ(ParseLabelOnAnnotation(doc.child("A").child("Circle")), "");
    EXPECT_EQ(ParseLabelOnAnnotation(pugi::xml_node()), "");
}

}  // namespace
