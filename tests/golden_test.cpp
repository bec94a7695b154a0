// Converts every annotation file in tests/data/golden and compares the result with the expected
// JSON file beside it, after masking the two values that depend on the day.
#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "annoxml/coco.h"
#include "test_xml.h"

using annoxml::test::Capture;
using annoxml::test::ReadFile;
using annoxml::test::TempDir;

namespace {

std::string MaskDates(const std::string& json) {
    static const std::regex year(R"("year": "[0-9]+")");
    static const std::regex date(R"("date_created": "[0-9]{4}/[0-9]{2}/[0-9]{2}")");
    return std::regex_replace(std::regex_replace(json, year, R"("year": "<year>")"), date,
                              R"("date_created": "<date>")");
}

TEST(Golden, ConversionsMatchExpectedFiles) {
    const std::filesystem::path folder = std::filesystem::path(ANNOXML_TEST_DATA) / "golden";
    TempDir dir;
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".xml") continue;
        const std::filesystem::path input = entry.path();
        SCOPED_TRACE(input.string());
        const std::string output = dir.File(input.stem().string() + ".json");
        Capture(std::cout, [&] { GenerateCOCOJson(input.string(), output); });
        std::filesystem::path expected = input;
        expected.replace_extension(".json");
        EXPECT_EQ(MaskDates(ReadFile(output)), ReadFile(expected.string()));
        ++compared;
    }
    EXPECT_GE(compared, 3);
}

}  // namespace
