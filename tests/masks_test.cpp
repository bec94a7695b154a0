#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "annoxml/masks.h"
#include "test_xml.h"

using annoxml::MaskImage;
using annoxml::MaskMode;
using annoxml::MaskRequest;
using annoxml::PixelSpan;
using annoxml::Point;
using annoxml::test::TempDir;

namespace {

using Outline = std::vector<Point>;

// The slow reference: every pixel centre tested against every edge, even-odd rule.
bool CentreInside(const Outline& outline, double px, double py) {
    bool inside = false;
    for (std::size_t i = 0; i < outline.size(); ++i) {
        const Point& a = outline[i];
        const Point& b = outline[(i + 1) % outline.size()];
        if ((a.y > py) != (b.y > py)) {
            const double t = (py - a.y) / (b.y - a.y);
            if (px < a.x * (1 - t) + b.x * t) inside = !inside;
        }
    }
    return inside;
}

std::vector<bool> SlowRaster(const Outline& outline, int width, int height) {
    std::vector<bool> pixels(static_cast<std::size_t>(width * height));
    if (outline.size() < 3) return pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels[static_cast<std::size_t>(y * width + x)] =
                CentreInside(outline, x + 0.5, y + 0.5);
        }
    }
    return pixels;
}

// The spans as pixels, checking on the way that they are ordered, disjoint and inside the image.
std::vector<bool> SpanRaster(const Outline& outline, int width, int height) {
    std::vector<bool> pixels(static_cast<std::size_t>(width * height));
    PixelSpan previous{-1, 0, 0};
    for (const PixelSpan& span : annoxml::OutlineSpans(outline, width, height)) {
        EXPECT_TRUE(span.y >= 0 && span.y < height && span.begin >= 0 && span.begin < span.end &&
                    span.end <= width)
            << "span " << span.y << ": " << span.begin << ".." << span.end;
        EXPECT_TRUE(span.y > previous.y || (span.y == previous.y && span.begin >= previous.end))
            << "span order at row " << span.y;
        previous = span;
        for (int x = std::max(span.begin, 0); x < std::min(span.end, width); ++x) {
            pixels[static_cast<std::size_t>(span.y * width + x)] = true;
        }
    }
    return pixels;
}

std::string Describe(const Outline& outline) {
    std::ostringstream text;
    text.precision(17);
    for (const Point& p : outline) text << "(" << p.x << "," << p.y << ") ";
    return text.str();
}

// Random outlines of one family each, in a 40 x 30 image.
struct Family {
    const char* name;
    Outline (*make)(std::mt19937& random);
};

double Uniform(std::mt19937& random, double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
}

int Whole(std::mt19937& random, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
}

Outline Star(std::mt19937& random, double cx, double cy, double radius, int points) {
    Outline outline;
    for (int i = 0; i < 2 * points; ++i) {
        const double r = (i % 2 ? 0.35 : 1.0) * radius * Uniform(random, 0.7, 1.0);
        const double angle = 3.141592653589793 * i / points;
        outline.push_back({cx + r * std::cos(angle), cy + r * std::sin(angle)});
    }
    return outline;
}

const Family kFamilies[] = {
    {"concave star",
     [](std::mt19937& r) {
         return Star(r, Uniform(r, 10, 30), Uniform(r, 8, 22), 9, Whole(r, 3, 9));
     }},
    {"partly outside",
     [](std::mt19937& r) {
         return Star(r, Uniform(r, -5, 45), Uniform(r, -5, 35), 15, Whole(r, 3, 7));
     }},
    {"tiny",
     [](std::mt19937& r) {
         const double x = Uniform(r, 0, 40), y = Uniform(r, 0, 30);
         return Outline{{x, y},
                        {x + Uniform(r, 0, 1.2), y + Uniform(r, -0.6, 0.6)},
                        {x + Uniform(r, -0.6, 0.6), y + Uniform(r, 0, 1.2)}};
     }},
    {"random self-intersecting",
     [](std::mt19937& r) {
         Outline outline(static_cast<std::size_t>(Whole(r, 3, 12)));
         for (Point& p : outline) p = {Uniform(r, -8, 48), Uniform(r, -8, 38)};
         return outline;
     }},
    {"on pixel centres and corners, horizontal edges",
     [](std::mt19937& r) {
         Outline outline(static_cast<std::size_t>(Whole(r, 3, 10)));
         const double offset = Whole(r, 0, 1) ? 0.5 : 0.0;
         for (std::size_t i = 0; i < outline.size(); ++i) {
             const double y = i % 2 && i > 0 ? outline[i - 1].y : Whole(r, -3, 33) + offset;
             outline[i] = {Whole(r, -3, 43) + offset, y};
         }
         return outline;
     }},
    {"self-touching",
     [](std::mt19937& r) {
         // Two loops that meet in one vertex, which may sit on a pixel centre.
         const Point touch{Whole(r, 5, 35) + 0.5 * Whole(r, 0, 1), Whole(r, 5, 25) + 0.5};
         return Outline{touch,
                        {touch.x - Uniform(r, 1, 6), touch.y - Uniform(r, 1, 6)},
                        {touch.x + Uniform(r, -4, 4), touch.y - Uniform(r, 2, 8)},
                        touch,
                        {touch.x + Uniform(r, 1, 6), touch.y + Uniform(r, 1, 6)},
                        {touch.x + Uniform(r, -4, 4), touch.y + Uniform(r, 2, 8)}};
     }},
    {"slivers",
     [](std::mt19937& r) {
         const double y = Whole(r, 0, 30) + 0.5;
         return Outline{{Uniform(r, -5, 20), y},
                        {Uniform(r, 20, 45), y},
                        {Uniform(r, 0, 40), y + Uniform(r, -1e-9, 1e-9)}};
     }},
};

TEST(OutlineSpans, AgreesWithAPointInPolygonTestAtEveryPixelCentre) {
    constexpr int kWidth = 40, kHeight = 30;
    std::mt19937 random(20260208);
    for (const Family& family : kFamilies) {
        for (int i = 0; i < 300; ++i) {
            const Outline outline = family.make(random);
            const bool same =
                SpanRaster(outline, kWidth, kHeight) == SlowRaster(outline, kWidth, kHeight);
            ASSERT_TRUE(same) << family.name << " #" << i << ": " << Describe(outline);
        }
    }
}

TEST(OutlineSpans, HandComputedCases) {
    const struct {
        const char* name;
        Outline outline;
        std::vector<PixelSpan> spans;  // in a 4 x 3 image
    } cases[] = {
        {"pixel-aligned square", {{1, 0}, {3, 0}, {3, 2}, {1, 2}}, {{0, 1, 3}, {1, 1, 3}}},
        {"square on the centres: the far sides' centres stay out",
         {{0.5, 0.5}, {2.5, 0.5}, {2.5, 2.5}, {0.5, 2.5}},
         {{0, 0, 2}, {1, 0, 2}}},
        {"beyond the image on every side",
         {{-9, -9}, {99, -9}, {99, 99}, {-9, 99}},
         {{0, 0, 4}, {1, 0, 4}, {2, 0, 4}}},
        {"no centre inside", {{0.6, 0.6}, {1.4, 0.6}, {1.4, 1.4}}, {}},
        {"two points", {{0, 0}, {4, 3}}, {}},
        {"not a number", {{0, 0}, {4, 0}, {4, NAN}}, {}},
        {"infinite", {{0, 0}, {INFINITY, 0}, {4, 3}}, {}},
        {"huge but finite",
         {{-1e308, -1e308}, {1e308, -1e308}, {1e308, 1e308}, {-1e308, 1e308}},
         {{0, 0, 4}, {1, 0, 4}, {2, 0, 4}}},
        {"bow tie: the crossing lobes",
         {{0, 0}, {4, 3}, {4, 0}, {0, 3}},
         {{0, 0, 1}, {0, 3, 4}, {1, 0, 2}, {1, 2, 4}, {2, 0, 1}, {2, 3, 4}}},
    };
    for (const auto& c : cases) {
        std::vector<PixelSpan> spans = annoxml::OutlineSpans(c.outline, 4, 3);
        std::ostringstream got, want;
        for (const PixelSpan& s : spans) got << s.y << ":" << s.begin << "-" << s.end << " ";
        for (const PixelSpan& s : c.spans) want << s.y << ":" << s.begin << "-" << s.end << " ";
        EXPECT_EQ(got.str(), want.str()) << c.name;
    }
}

annoxml::Region Square(double x, double y, double side) {
    annoxml::Region region;
    region.outline = {{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}};
    return region;
}

// A 6 x 2 frame with two overlapping squares: A covers columns 0-1, B columns 1-2.
annoxml::Frame TwoSquares() {
    annoxml::Frame frame;
    frame.width = 6;
    frame.height = 2;
    frame.regions = {Square(0, 0, 2), Square(1, 0, 2)};
    return frame;
}

std::vector<int> FirstRow(const MaskImage& image) {
    std::vector<int> row;
    for (int x = 0; x < image.width(); ++x) row.push_back(image.at(x, 0));
    return row;
}

TEST(RenderMask, ModesPaintInDocumentOrder) {
    const struct {
        const char* name;
        MaskRequest request;
        int depth;
        std::vector<int> row;
    } cases[] = {
        {"binary", {MaskMode::Binary, {}, {}, 0}, 8, {255, 255, 255, 0, 0, 0}},
        {"category: the later region covers the earlier",
         {MaskMode::Category, {7, 3}, {}, 7},
         8,
         {7, 3, 3, 0, 0, 0}},
        {"category past 255 ids",
         {MaskMode::Category, {300, 3}, {}, 300},
         16,
         {300, 3, 3, 0, 0, 0}},
        {"instance", {MaskMode::Instance, {}, {}, 0}, 16, {1, 2, 2, 0, 0, 0}},
        {"instance keeps numbers of unselected regions",
         {MaskMode::Instance, {}, {false, true}, 0},
         16,
         {0, 2, 2, 0, 0, 0}},
        {"binary, first only", {MaskMode::Binary, {}, {true, false}, 0}, 8, {255, 255, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        const MaskImage image = annoxml::RenderMask(TwoSquares(), c.request);
        EXPECT_EQ(image.bitDepth(), c.depth) << c.name;
        EXPECT_EQ(FirstRow(image), c.row) << c.name;
        EXPECT_EQ(FirstRow(image), std::vector<int>(image.row(1), image.row(1) + 6)) << c.name;
    }
}

TEST(RenderMask, RefusesWhatCannotBePainted) {
    annoxml::Frame empty = TwoSquares();
    empty.width = 0;
    const struct {
        const char* name;
        annoxml::Frame frame;
        MaskRequest request;
    } cases[] = {
        {"no size", empty, {}},
        {"category ids missing", TwoSquares(), {MaskMode::Category, {1}, {}, 1}},
        {"selection of the wrong length", TwoSquares(), {MaskMode::Binary, {}, {true}, 0}},
        {"id beyond 16 bits", TwoSquares(), {MaskMode::Category, {70000, 1}, {}, 70000}},
        {"id beyond the stated largest", TwoSquares(), {MaskMode::Category, {256, 1}, {}, 255}},
    };
    for (const auto& c : cases) {
        EXPECT_THROW(annoxml::RenderMask(c.frame, c.request), std::invalid_argument) << c.name;
    }
}

TEST(ParseMaskMode, NamesAndErrors) {
    EXPECT_EQ(annoxml::ParseMaskMode("binary"), MaskMode::Binary);
    EXPECT_EQ(annoxml::ParseMaskMode("category"), MaskMode::Category);
    EXPECT_EQ(annoxml::ParseMaskMode("instance"), MaskMode::Instance);
    EXPECT_THROW(annoxml::ParseMaskMode("Binary"), std::invalid_argument);
}

struct DecodedPng {
    int width = 0;
    int height = 0;
    int bitDepth = 0;
    int colorType = -1;
    std::vector<int> pixels;
};

// Decodes with libpng's own reader, independent of the writer's packing.
bool ReadPng(const std::string& path, DecodedPng& decoded) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    decoded.width = static_cast<int>(png_get_image_width(png, info));
    decoded.height = static_cast<int>(png_get_image_height(png, info));
    decoded.bitDepth = png_get_bit_depth(png, info);
    decoded.colorType = png_get_color_type(png, info);
    png_bytepp rows = png_get_rows(png, info);
    for (int y = 0; y < decoded.height; ++y) {
        for (int x = 0; x < decoded.width; ++x) {
            decoded.pixels.push_back(
                decoded.bitDepth == 16 ? rows[y][2 * x] << 8 | rows[y][2 * x + 1] : rows[y][x]);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return true;
}

TEST(WritePng, RoundTripsPixelsAndDepth) {
    TempDir dir;
    std::mt19937 random(7);
    for (const int depth : {8, 16}) {
        MaskImage image(37, 23, depth);
        for (int i = 0; i < 12; ++i) {
            const int value = Whole(random, 1, depth == 8 ? 255 : 65535);
            image.Paint(kFamilies[3].make(random), static_cast<std::uint16_t>(value));
        }
        const std::string path = dir.File("mask" + std::to_string(depth) + ".png");
        annoxml::WritePng(image, path);
        DecodedPng decoded;
        ASSERT_TRUE(ReadPng(path, decoded)) << depth;
        EXPECT_EQ(decoded.width, 37);
        EXPECT_EQ(decoded.height, 23);
        EXPECT_EQ(decoded.bitDepth, depth);
        EXPECT_EQ(decoded.colorType, PNG_COLOR_TYPE_GRAY);
        std::vector<int> expected;
        for (int y = 0; y < 23; ++y) {
            for (int x = 0; x < 37; ++x) expected.push_back(image.at(x, y));
        }
        EXPECT_EQ(decoded.pixels, expected) << depth;
    }
}

TEST(WritePng, AFailedWriteLeavesNothing) {
    TempDir dir;
    const std::string path = dir.File("missing-folder/mask.png");
    try {
        annoxml::WritePng(MaskImage(4, 4, 8), path);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Cannot write " + path + ": ", 0), 0u)
            << error.what();
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(MaskImage, RefusesBadSizesAndDepths) {
    EXPECT_THROW(MaskImage(0, 4, 8), std::invalid_argument);
    EXPECT_THROW(MaskImage(4, -1, 8), std::invalid_argument);
    EXPECT_THROW(MaskImage(4, 4, 12), std::invalid_argument);
    EXPECT_THROW(MaskImage(100000, 100000, 8), std::invalid_argument);
    EXPECT_NO_THROW(MaskImage(16384, 16384, 8));
}

}  // namespace
