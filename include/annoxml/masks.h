// Segmentation masks: regions rasterised into one single-channel image per frame, written as PNG.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "annoxml/dataset.h"
#include "annoxml/export.h"
#include "annoxml/frame.h"

namespace annoxml {

namespace detail {
class ExportFolder;
}

// A run of pixels [begin, end) on one row.
struct PixelSpan {
    int y = 0;
    int begin = 0;
    int end = 0;
};

// The pixels of an outline, row by row from the top, each row's spans from the left: pixel
// (x, y) belongs when its centre (x + 0.5, y + 0.5) lies inside the closed outline by the
// even-odd rule, clipped to a width x height image. An outline with fewer than 3 points or a
// non-finite coordinate covers nothing. Cost grows with the rows and spans covered, not with the
// image's size.
ANNOXML_API std::vector<PixelSpan> OutlineSpans(const std::vector<Point>& outline, int width,
                                                int height);

// A single-channel image of 8 or 16 bits per pixel, 0 everywhere at first.
class ANNOXML_API MaskImage {
  public:
    // The most pixels a mask may have: 16384 x 16384.
    static constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

    // Throws std::invalid_argument for a size that is not positive or larger than kMaxPixels, or
    // a depth other than 8 or 16.
    MaskImage(int width, int height, int bitDepth);

    int width() const { return width_; }
    int height() const { return height_; }
    int bitDepth() const { return bitDepth_; }
    std::uint16_t at(int x, int y) const { return pixels_[Offset(x, y)]; }
    const std::uint16_t* row(int y) const { return pixels_.data() + Offset(0, y); }

    // Paints `value` over the outline's pixels; later paint covers earlier paint.
    void Paint(const std::vector<Point>& outline, std::uint16_t value);
    // Sets the pixels of a span that lies inside the image.
    void Fill(const PixelSpan& span, std::uint16_t value);

  private:
    std::size_t Offset(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
               static_cast<std::size_t>(x);
    }

    int width_;
    int height_;
    int bitDepth_;
    std::vector<std::uint16_t> pixels_;
};

enum class MaskMode {
    Binary,    // 8-bit, 255 for every painted region
    Category,  // the region's category id: 8-bit, 16-bit when an id exceeds 255
    Instance,  // 16-bit, the region's number within the frame from 1 (of the regions that count)
};

// Parses "binary", "category" or "instance"; throws std::invalid_argument otherwise.
ANNOXML_API MaskMode ParseMaskMode(const std::string& name);

// What to paint: for each region of the frame (document order) its category id, and whether it
// is selected. Regions not selected leave no trace, but keep their numbers in instance mode.
struct MaskRequest {
    MaskMode mode = MaskMode::Binary;
    std::vector<int> categoryIds;  // one per region
    std::vector<bool> selected;    // one per region; empty selects all
    int largestCategoryId = 0;     // decides the depth in category mode
};

// Paints the frame's selected regions in document order into a width x height image. Throws
// std::invalid_argument when the frame's size is not positive, a category id or region number
// does not fit 16 bits, or the request does not have one entry per region.
ANNOXML_API MaskImage RenderMask(const Frame& frame, const MaskRequest& request);

// Writes a grey-scale PNG of the image's depth, complete or not at all. Throws std::runtime_error
// "Cannot write PATH: REASON".
ANNOXML_API void WritePng(const MaskImage& image, const std::string& path);

// A folder of mask images, one per data-set frame, named after the frame's data-set file name
// with the extension .png (below a folder named after the frame's split when there are splits),
// and categories.json (id, name, color of the categories painted). The folder is replaced as a
// whole: the masks are written into a new folder beside it, which Finish() puts in its place; a
// writer destroyed before that leaves the folder as it was. In instance mode a region's number
// counts the admitted frame's regions (those the catalog's rule keeps), so mask value k is the
// frame's k-th annotation in the data set.
class ANNOXML_API MaskSetWriter {
  public:
    struct Options {
        std::string outDir;
        MaskMode mode = MaskMode::Binary;
        std::vector<std::string> labels;  // paint only these categories; empty: all
        // Replace a non-empty outDir that this tool did not write, instead of refusing it.
        bool force = false;
    };

    // Throws std::runtime_error when outDir cannot be replaced (see detail::ExportFolder).
    explicit MaskSetWriter(Options options);
    ~MaskSetWriter();
    MaskSetWriter(const MaskSetWriter&) = delete;
    MaskSetWriter& operator=(const MaskSetWriter&) = delete;

    // One frame's mask, planned and ready to render.
    struct Task {
        std::string path;
        MaskRequest request;
        Frame frame;
    };

    // Writes the frame's mask: Render(Plan(...)).
    void Write(DatasetFrame admitted, const std::vector<Category>& categories);
    // The part of Write that depends on order: not thread-safe, frames come in data-set order.
    // Throws std::runtime_error when the file name leads outside the folder or another frame of
    // this set has the same file name.
    Task Plan(DatasetFrame admitted, const std::vector<Category>& categories);
    // The costly part, safe on any thread. Throws std::runtime_error when the file cannot be
    // written.
    static void Render(const Task& task);

    // Writes categories.json and puts the folder in place; returns the --labels names that
    // match no category.
    std::vector<std::string> Finish(const std::vector<Category>& categories);
    // The same after catalog.CheckSplits(): a named split without frames fails the set.
    std::vector<std::string> Finish(const DatasetCatalog& catalog);

  private:
    bool IsSelected(const std::string& name) const;
    MaskRequest Request(const DatasetFrame& admitted,
                        const std::vector<Category>& categories) const;

    Options options_;
    std::unique_ptr<detail::ExportFolder> folder_;
    std::map<std::string, std::string> written_;  // path -> the frame's source
};

}  // namespace annoxml
