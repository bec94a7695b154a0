// YOLO training labels: one text file per frame of normalised boxes or outlines, and data.yaml.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "annoxml/dataset.h"
#include "annoxml/export.h"
#include "annoxml/frame.h"

namespace annoxml {

enum class YoloTask {
    Detect,   // class cx cy w h
    Segment,  // class x1 y1 x2 y2 ...
};

// Parses "detect" or "segment"; throws std::invalid_argument otherwise.
ANNOXML_API YoloTask ParseYoloTask(const std::string& name);

// The part of an outline inside the rectangle [0, width] x [0, height] (an outline clipped by
// each side in turn); empty when nothing is inside.
ANNOXML_API std::vector<Point> ClipToImage(const std::vector<Point>& outline, double width,
                                           double height);

// The label line of one region without its newline, coordinates divided by the image's width and
// height after clipping to the image, six decimals. "" when nothing of the region with an area
// lies inside the image: a box of zero width or height, an outline of fewer than 3 points.
ANNOXML_API std::string YoloLine(int classIndex, const Region& region, int width, int height,
                                 YoloTask task);

// The label file of a frame: one line per region with a line, in document order. classes holds
// one class index per region.
ANNOXML_API std::string YoloLabels(const Frame& frame, const std::vector<int>& classes,
                                   YoloTask task);

struct YoloDataset {
    std::string path;                 // the data set's root folder
    std::vector<std::string> splits;  // image folders images/<split>, in this order
    std::vector<std::string> names;   // class names, class 0 first
};

// data.yaml: path, one key per split naming its image folder, and the names by class index.
// Without a "val" split, val points at the training images so that trainers that require it
// still start. Every text is double-quoted with escapes.
ANNOXML_API std::string DataYaml(const YoloDataset& dataset);

// A YAML double-quoted scalar.
ANNOXML_API std::string YamlQuoted(const std::string& text);

// A YOLO data set below a folder: labels/<split>/<file name>.txt per frame, the images linked or
// copied into images/<split>/<file name>, and data.yaml. File names are the frames' data-set file
// names, folders included; the split is the frame's, "train" without splits.
class ANNOXML_API YoloSetWriter {
  public:
    struct Options {
        std::string outDir;
        YoloTask task = YoloTask::Detect;
        std::optional<std::string> imagesDir;  // where the images lie, by data-set file name
        bool copyImages = false;               // copy them instead of linking
    };

    explicit YoloSetWriter(Options options);

    // Throws std::runtime_error, before writing anything, when an image is expected and missing
    // ("image DIR/x.png not found"); and when the file name leads outside the folder, another
    // frame has the same file name, or a file cannot be written.
    void CheckImage(const std::string& fileName) const;
    // Writes the frame's label file (and places its image). Not thread-safe: frames come in
    // data-set order. A region's class is its category's position in `categories`.
    void Write(const DatasetFrame& admitted, const std::vector<Category>& categories);

    // Writes data.yaml with the splits in `splits` order ("train" when empty).
    void Finish(const std::vector<Category>& categories,
                const std::vector<SplitShare>& splits) const;

  private:
    Options options_;
    std::map<std::string, std::string> written_;  // path -> the frame's source
};

}  // namespace annoxml
