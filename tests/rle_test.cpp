// The COCO RLE codec: string form both ways, the polygon rule against masks the reference
// evaluation produced, and area, box, merge and IoU on runs against the same on decoded pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "annoxml/masks.h"
#include "annoxml/rle.h"

namespace annoxml {
namespace {

TEST(RleString, RoundTripsCounts) {
    const std::vector<std::vector<std::uint32_t>> cases = {
        {12},
        {0, 12},
        {3, 4, 5},
        {5, 1, 9, 1, 2, 30, 1},         // differences to two before of both signs
        {100000, 7, 3, 500000, 1, 16},  // counts of several characters
        {0, 1, 0, 1, 0, 1, 0},
        {31, 32, 15, 16, 17, 1023, 1024},
    };
    for (const auto& counts : cases) {
        std::uint64_t total = 0;
        for (const std::uint32_t c : counts) total += c;
        const Rle rle{1, static_cast<int>(total), counts};
        const Rle back = RleFromString(RleToString(rle), 1, static_cast<int>(total));
        EXPECT_EQ(back.counts, counts) << RleToString(rle);
    }
}

TEST(RleString, RejectsBadText) {
    for (const char* text : {"9 4", "94~", "9h", "\x7f"}) {
        EXPECT_THROW(RleFromString(text, 8, 8), std::invalid_argument) << text;
    }
}

// Masks, areas and boxes that the reference evaluation's mask code gave for these polygons.
TEST(RlePolygon, EqualsTheReferenceMasks) {
    struct Case {
        std::vector<double> xy;
        int height, width;
        const char* counts;
        std::uint64_t area;
        Box box;
    };
    const Case cases[] = {
        {{1, 1, 5, 1, 5, 5, 1, 5}, 8, 8, "94400000g0", 16, {1, 1, 4, 4}},
        {{0.5, 0.5, 9.3, 2.2, 4.1, 7.7}, 10, 12, ";192N2N1OO2N1O1Om0", 26, {1, 1, 8, 6}},
        {{2.25, 3, 12, 3, 12, 8, 2, 8.75}, 20, 30, "[16>000000O1000000000U;", 54, {2, 3, 10, 6}},
        {{-3, -2, 40, 5, 18, 33},
         24,
         32,
         "04d01O2N2N1O2N2N1O2N2N1O2O1N0000000001O00000000001O0O1O1O1O1N2O2NM",
         560,
         {0, 0, 32, 24}},
    };
    for (const Case& c : cases) {
        const Rle rle = RleFromPolygon(c.xy, c.height, c.width);
        EXPECT_EQ(RleToString(rle), c.counts);
        EXPECT_EQ(RleArea(rle), c.area);
        const Box box = RleBox(rle);
        EXPECT_EQ(box.x, c.box.x);
        EXPECT_EQ(box.y, c.box.y);
        EXPECT_EQ(box.width, c.box.width);
        EXPECT_EQ(box.height, c.box.height);
    }
}

std::vector<std::uint8_t> Decoded(const Rle& rle) { return RleDecode(rle); }

// Random polygons and rectangles on a small image, with their decoded pixels.
std::vector<Rle> RandomMasks(int height, int width, int count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> x(-3, width + 3), y(-3, height + 3);
    std::vector<Rle> masks;
    for (int i = 0; i < count; ++i) {
        std::vector<double> xy;
        const int points = 3 + i % 6;
        for (int p = 0; p < points; ++p) xy.insert(xy.end(), {x(random), y(random)});
        masks.push_back(i % 4 == 3 ? RleFromBox({xy[0], xy[1], xy[2] / 2, xy[3] / 2}, height, width)
                                   : RleFromPolygon(xy, height, width));
    }
    masks.push_back(RleFromPolygon(std::vector<double>{}, height, width));  // empty
    return masks;
}

TEST(RleRuns, AgreeWithDecodedPixels) {
    const int height = 23, width = 31;
    const std::vector<Rle> masks = RandomMasks(height, width, 24, 7);
    for (std::size_t i = 0; i < masks.size(); ++i) {
        const std::vector<std::uint8_t> a = Decoded(masks[i]);
        ASSERT_EQ(a.size(), static_cast<std::size_t>(height * width));
        EXPECT_EQ(RleArea(masks[i]), static_cast<std::uint64_t>(std::count(a.begin(), a.end(), 1)));
        EXPECT_EQ(RleEncode(a.data(), height, width).counts, RleMerge({masks[i]}).counts);
        for (std::size_t j = 0; j < masks.size(); ++j) {
            const std::vector<std::uint8_t> b = Decoded(masks[j]);
            std::uint64_t both = 0, either = 0, own = 0;
            std::vector<std::uint8_t> unionPixels(a.size()), intersection(a.size());
            for (std::size_t p = 0; p < a.size(); ++p) {
                both += a[p] && b[p];
                either += a[p] || b[p];
                own += a[p];
                unionPixels[p] = a[p] || b[p];
                intersection[p] = a[p] && b[p];
            }
            const double iou = both == 0 ? 0 : static_cast<double>(both) / either;
            const double crowd = both == 0 ? 0 : static_cast<double>(both) / own;
            EXPECT_EQ(RleIou(masks[i], masks[j], false), iou) << i << " " << j;
            EXPECT_EQ(RleIou(masks[i], masks[j], true), crowd) << i << " " << j;
            EXPECT_EQ(RleIntersectionArea(masks[i], masks[j]), both);
            EXPECT_EQ(Decoded(RleMerge({masks[i], masks[j]})), unionPixels);
            EXPECT_EQ(Decoded(RleMerge({masks[i], masks[j]}, true)), intersection);
        }
    }
    EXPECT_EQ(
        RleIou(masks[0], Rle{height + 1, width, {static_cast<std::uint32_t>((height + 1) * width)}},
               false),
        -1);
}

TEST(RleRuns, BoxIsTheTightBoxOfThePixels) {
    const int height = 19, width = 26;
    for (const Rle& mask : RandomMasks(height, width, 16, 11)) {
        const std::vector<std::uint8_t> pixels = Decoded(mask);
        int x0 = width, y0 = height, x1 = -1, y1 = -1;
        for (int x = 0; x < width; ++x) {
            for (int y = 0; y < height; ++y) {
                if (!pixels[static_cast<std::size_t>(x * height + y)]) continue;
                x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x),
                y1 = std::max(y1, y);
            }
        }
        const Box box = RleBox(mask);
        if (x1 < 0) {
            EXPECT_EQ(box.width, 0);
            continue;
        }
        // A region that spans two columns is given the whole height, as in the reference.
        const bool wraps = x1 > x0 && box.height == height;
        EXPECT_EQ(box.x, x0);
        EXPECT_EQ(box.width, x1 - x0 + 1);
        if (!wraps) {
            EXPECT_EQ(box.y, y0);
            EXPECT_EQ(box.height, y1 - y0 + 1);
        }
    }
}

TEST(RleSpans, EqualThePixelCentreMask) {
    const int height = 21, width = 17;
    const std::vector<std::vector<Point>> outlines = {
        {{2, 3}, {12, 3}, {12, 8}, {2, 8}},
        {{0.5, 0.5}, {16.5, 2}, {3, 20.5}},
        {{8, -4}, {20, 10}, {8, 25}, {-4, 10}},  // clipped on every side
        {{1, 1}, {15, 1}, {15, 19}, {1, 19}, {1, 5}, {11, 5}, {11, 15}, {5, 15}, {5, 5}, {1, 5}},
        {{3, 3}, {3.2, 3.1}},  // covers nothing
    };
    for (std::size_t i = 0; i < outlines.size(); ++i) {
        MaskImage painted(width, height, 8);
        painted.Paint(outlines[i], 1);
        const Rle rle = RleFromSpans(OutlineSpans(outlines[i], width, height), height, width);
        const std::vector<std::uint8_t> pixels = Decoded(rle);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                ASSERT_EQ(pixels[static_cast<std::size_t>(x * height + y)], painted.at(x, y))
                    << "outline " << i << " at " << x << "," << y;
            }
        }
    }
}

TEST(BoxIou, ContinuousCoordinates) {
    struct Case {
        Box d, g;
        bool crowd;
        double iou;
    };
    const Case cases[] = {
        {{0, 0, 10, 10}, {0, 0, 10, 10}, false, 1},
        {{0, 0, 10, 10}, {5, 0, 10, 10}, false, 50.0 / 150},
        {{0, 0, 10, 10}, {10, 0, 10, 10}, false, 0},  // touching: no +1 on widths
        {{2, 2, 4, 4}, {0, 0, 100, 100}, true, 1},    // inside a crowd: over its own area
        {{-5, 0, 10, 10}, {0, 0, 100, 100}, true, 0.5},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(BoxIou(c.d, c.g, c.crowd), c.iou);
}

}  // namespace
}  // namespace annoxml
