#include <cmath>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "annoxml/masks.h"
#include "annoxml/yolo.h"

using annoxml::Frame;
using annoxml::Point;
using annoxml::Region;
using annoxml::YoloTask;

namespace {

Region WithOutline(std::vector<Point> outline) {
    Region region;
    region.outline = std::move(outline);
    return region;
}

TEST(YoloLine, HandComputedLines) {
    // A 200 x 100 image.
    const struct {
        const char* name;
        std::vector<Point> outline;
        YoloTask task;
        std::string line;
    } cases[] = {
        {"box",
         {{20, 10}, {60, 10}, {60, 50}, {20, 50}},
         YoloTask::Detect,
         "3 0.200000 0.300000 0.200000 0.400000"},
        {"outline",
         {{20, 10}, {60, 10}, {40, 50}},
         YoloTask::Segment,
         "3 0.100000 0.100000 0.300000 0.100000 0.200000 0.500000"},
        {"box cut at the right and bottom edges",
         {{180, 80}, {260, 80}, {260, 140}, {180, 140}},
         YoloTask::Detect,
         "3 0.950000 0.900000 0.100000 0.200000"},
        {"outline cut at the left edge",
         {{-20, 10}, {20, 10}, {20, 30}, {-20, 30}},
         YoloTask::Segment,
         "3 0.000000 0.100000 0.100000 0.100000 0.100000 0.300000 0.000000 0.300000"},
        // The box of what is inside, not the full box cut: a triangle reaching out at one corner.
        {"box of the part inside",
         {{100, 50}, {300, 50}, {100, 150}},
         YoloTask::Detect,
         "3 0.750000 0.750000 0.500000 0.500000"},
        {"wholly outside", {{-50, -50}, {-10, -50}, {-10, -10}}, YoloTask::Detect, ""},
        {"wholly outside, outline", {{210, 0}, {250, 0}, {250, 40}}, YoloTask::Segment, ""},
        {"no area", {{10, 10}, {50, 10}, {90, 10}}, YoloTask::Detect, ""},
        {"not a number", {{10, 10}, {50, NAN}, {90, 40}}, YoloTask::Segment, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(annoxml::YoloLine(3, WithOutline(c.outline), 200, 100, c.task), c.line) << c.name;
    }
}

TEST(YoloLabels, OneLinePerRegionWithALine) {
    Frame frame;
    frame.width = 10;
    frame.height = 10;
    frame.regions = {WithOutline({{0, 0}, {5, 0}, {5, 5}}),
                     WithOutline({{20, 20}, {30, 20}, {30, 30}}),
                     WithOutline({{5, 5}, {10, 5}, {10, 10}, {5, 10}})};
    EXPECT_EQ(annoxml::YoloLabels(frame, {0, 1, 2}, YoloTask::Detect),
              "0 0.250000 0.250000 0.500000 0.500000\n2 0.750000 0.750000 0.500000 0.500000\n");
    frame.regions.clear();
    EXPECT_EQ(annoxml::YoloLabels(frame, {}, YoloTask::Segment), "");
    EXPECT_THROW(annoxml::YoloLabels(frame, {1}, YoloTask::Segment), std::invalid_argument);
}

std::vector<double> Numbers(const std::string& line, int& classIndex) {
    std::istringstream in(line);
    in >> classIndex;
    std::vector<double> numbers;
    for (double v; in >> v;) numbers.push_back(v);
    return numbers;
}

annoxml::Box BoxOf(const std::vector<Point>& outline) {
    double left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
    for (const Point& p : outline) {
        left = std::min(left, p.x), right = std::max(right, p.x);
        top = std::min(top, p.y), bottom = std::max(bottom, p.y);
    }
    return {left, top, right - left, bottom - top};
}

// Random outlines, some reaching out of the image: reading the lines back gives the boxes and
// outlines of the parts inside within 1e-6 of the image's size, every number in [0, 1].
TEST(YoloLabels, RoundTripWithinAMillionthOfTheImage) {
    std::mt19937 random(13);
    std::uniform_real_distribution<double> coordinate(-100, 1100);
    constexpr int kWidth = 1000, kHeight = 700;
    for (int i = 0; i < 500; ++i) {
        std::vector<Point> outline(3 + i % 9);
        for (Point& p : outline) p = {coordinate(random), coordinate(random) * 0.7};
        const std::vector<Point> inside = annoxml::ClipToImage(outline, kWidth, kHeight);
        for (const YoloTask task : {YoloTask::Detect, YoloTask::Segment}) {
            const std::string line =
                annoxml::YoloLine(i % 5, WithOutline(outline), kWidth, kHeight, task);
            const std::string name = "case " + std::to_string(i) + ": " + line;
            if (inside.size() < 3) {
                EXPECT_EQ(line, "") << name;
                continue;
            }
            int classIndex = -1;
            const std::vector<double> numbers = Numbers(line, classIndex);
            EXPECT_EQ(classIndex, i % 5) << name;
            for (const double v : numbers) EXPECT_TRUE(v >= 0 && v <= 1) << name;
            if (task == YoloTask::Detect) {
                const annoxml::Box box = BoxOf(inside);
                ASSERT_EQ(numbers.size(), 4u) << name;
                EXPECT_NEAR(numbers[0] * kWidth, box.x + box.width / 2, 1e-6 * kWidth) << name;
                EXPECT_NEAR(numbers[1] * kHeight, box.y + box.height / 2, 1e-6 * kHeight) << name;
                EXPECT_NEAR(numbers[2] * kWidth, box.width, 1e-6 * kWidth) << name;
                EXPECT_NEAR(numbers[3] * kHeight, box.height, 1e-6 * kHeight) << name;
            } else {
                ASSERT_EQ(numbers.size(), 2 * inside.size()) << name;
                for (std::size_t k = 0; k < inside.size(); ++k) {
                    EXPECT_NEAR(numbers[2 * k] * kWidth, inside[k].x, 1e-6 * kWidth) << name;
                    EXPECT_NEAR(numbers[2 * k + 1] * kHeight, inside[k].y, 1e-6 * kHeight) << name;
                }
            }
        }
    }
}

// Clipping keeps exactly the pixels of the original that lie in the image, whatever the shape:
// compared with the original's pixels in a larger canvas.
TEST(ClipToImage, KeepsThePixelsInsideTheImage) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> coordinate(-20, 60);
    constexpr int kWidth = 40, kHeight = 30, kMargin = 30;
    for (int i = 0; i < 300; ++i) {
        std::vector<Point> outline(3 + i % 10);
        for (Point& p : outline) p = {coordinate(random), coordinate(random)};
        std::vector<Point> shifted = outline;
        for (Point& p : shifted) p = {p.x + kMargin, p.y + kMargin};
        annoxml::MaskImage canvas(kWidth + 2 * kMargin, kHeight + 2 * kMargin, 8);
        canvas.Paint(shifted, 1);
        annoxml::MaskImage clipped(kWidth, kHeight, 8);
        clipped.Paint(annoxml::ClipToImage(outline, kWidth, kHeight), 1);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                ASSERT_EQ(clipped.at(x, y), canvas.at(x + kMargin, y + kMargin))
                    << "case " << i << " at " << x << "," << y;
            }
        }
    }
}

TEST(YamlQuoted, EscapesWhatYamlWouldReadOtherwise) {
    const struct {
        std::string text;
        std::string quoted;
    } cases[] = {
        {"Polyp", "\"Polyp\""},
        {"", "\"\""},
        {"a \"b\" \\c", "\"a \\\"b\\\" \\\\c\""},
        {"tab\there\nnewline", "\"tab\\x09here\\x0Anewline\""},
        {"yes", "\"yes\""},
        {"- [x]: #y", "\"- [x]: #y\""},
        {"Hämatin", "\"Hämatin\""},
        {"line\xE2\x80\xA8sep\xC2\x85", "\"line\\Lsep\\N\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(annoxml::YamlQuoted(c.text), c.quoted) << c.text;
    }
}

TEST(DataYaml, FoldersAndNamesInClassOrder) {
    EXPECT_EQ(annoxml::DataYaml({{"train", "val", "test"}, {"Polyp", "Ulcer"}}),
              "train: \"images/train\"\n"
              "val: \"images/val\"\n"
              "test: \"images/test\"\n"
              "nc: 2\n"
              "names:\n"
              "  0: \"Polyp\"\n"
              "  1: \"Ulcer\"\n");
    EXPECT_EQ(annoxml::DataYaml({{"train"}, {}}),
              "train: \"images/train\"\n"
              "val: \"images/train\"  # no val split: the training images\n"
              "nc: 0\n"
              "names: []\n");
}

TEST(YoloSplits, TakesTrainValTestAndTheUsualNamesOfVal) {
    const auto names = [](const std::vector<annoxml::SplitShare>& splits) {
        std::vector<std::string> result;
        for (const auto& split : annoxml::YoloSplits(splits)) result.push_back(split.name);
        return result;
    };
    EXPECT_EQ(names({{"train", 0.8}, {"valid", 0.2}}), (std::vector<std::string>{"train", "val"}));
    EXPECT_EQ(names({{"validation", 0.5}, {"test", 0.5}}),
              (std::vector<std::string>{"val", "test"}));
    EXPECT_THROW(names({{"fit", 0.8}, {"val", 0.2}}), std::invalid_argument);
    EXPECT_THROW(names({{"val", 0.5}, {"valid", 0.5}}), std::invalid_argument);
    EXPECT_EQ(annoxml::YoloValidationNote({{"train", 1}}).empty(), false);
    EXPECT_EQ(annoxml::YoloValidationNote({{"train", 0.5}, {"val", 0.5}}), "");
}

// Ultralytics' img2label_paths: the last /images/ becomes /labels/, the extension .txt.
TEST(YoloLabelPath, FollowsTheTrainersRule) {
    const struct {
        const char* image;
        const char* label;
    } cases[] = {
        {"/out/images/train/a.png", "/out/labels/train/a.txt"},
        {"/out/images/train/images/a.png", "/out/images/train/labels/a.txt"},
        {"/images/out/images/val/case.1/a.b.jpg", "/images/out/labels/val/case.1/a.b.txt"},
        {"/out/images/train/case.1/a", "/out/labels/train/case.1/a.txt"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(annoxml::YoloLabelPath(c.image), c.label) << c.image;
    }
}

TEST(ParseYoloTask, NamesAndErrors) {
    EXPECT_EQ(annoxml::ParseYoloTask("detect"), YoloTask::Detect);
    EXPECT_EQ(annoxml::ParseYoloTask("segment"), YoloTask::Segment);
    EXPECT_THROW(annoxml::ParseYoloTask("pose"), std::invalid_argument);
}

}  // namespace
