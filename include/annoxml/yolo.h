// YOLO training labels: one text file per frame of normalised boxes or outlines, and data.yaml.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "annoxml/dataset.h"
#include "annoxml/export.h"
#include "annoxml/frame.h"

namespace annoxml {

namespace detail {
class ExportFolder;
}

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

// The splits a YOLO trainer reads: "train", "val" and "test". "valid" and "validation" become
// "val"; any other name, or a name given twice, throws std::invalid_argument saying so.
ANNOXML_API std::vector<SplitShare> YoloSplits(std::vector<SplitShare> splits);

// Where a YOLO trainer looks for the label file of an image: the last "/images/" of its path
// replaced by "/labels/", and the extension after the last '.' of the file name by ".txt".
// '/' separates folders.
ANNOXML_API std::string YoloLabelPath(const std::string& imagePath);

struct YoloDataset {
    std::vector<std::string> splits;  // image folders images/<split>, in this order
    std::vector<std::string> names;   // class names, class 0 first
};

// data.yaml: one key per split naming its image folder relative to the file's own folder (no
// "path" key: trainers then resolve the folders from where data.yaml lies, so a copied or moved
// data set works where it is), and the names by class index. Without a "val" split, val points
// at the training images so that trainers that require it still start. Every text is
// double-quoted with escapes.
ANNOXML_API std::string DataYaml(const YoloDataset& dataset);

// A YAML double-quoted scalar.
ANNOXML_API std::string YamlQuoted(const std::string& text);

// A YOLO data set below a folder: the images linked or copied into images/<split>/<file name>,
// each label file where YoloLabelPath finds it from its image (labels/<split>/<file name>.txt
// unless the file name holds a folder called "images"), and data.yaml. File names are the
// frames' data-set file names, folders included; the split is the frame's, "train" without
// splits. The folder is replaced as a whole: everything is written into a new folder beside it,
// which Finish() puts in its place; a writer destroyed before that leaves it as it was. Images
// are new entries of that new folder (relative links, or copies), so nothing is ever written
// into the images folder.
class ANNOXML_API YoloSetWriter {
  public:
    struct Options {
        std::string outDir;
        YoloTask task = YoloTask::Detect;
        std::optional<std::string> imagesDir;  // where the images lie (see FindFrameImage)
        bool copyImages = false;               // copy them instead of linking
        // Replace a non-empty outDir that this tool did not write, instead of refusing it.
        bool force = false;
    };

    // Throws std::runtime_error when outDir cannot be replaced (see detail::ExportFolder).
    explicit YoloSetWriter(Options options);
    ~YoloSetWriter();
    YoloSetWriter(const YoloSetWriter&) = delete;
    YoloSetWriter& operator=(const YoloSetWriter&) = delete;

    // With an images folder: the frame's image as FindFrameImage finds it. Throws
    // std::runtime_error, before anything is written, when there is none ("no image for
    // x.png in DIR, nor beside the annotation file"); "" without an images folder.
    std::string FindImage(const Frame& frame, const std::string& datasetFileName) const;
    // Writes the frame's label file (and places its image). Not thread-safe: frames come in
    // data-set order. A region's class is its category's position in `categories`. Throws
    // std::runtime_error when the image is missing, the file name leads outside the folder,
    // another frame has the same file name, or a file cannot be written.
    void Write(const DatasetFrame& admitted, const std::vector<Category>& categories);

    // Writes data.yaml with the splits in `splits` order ("train" when empty) and puts the
    // folder in place.
    void Finish(const std::vector<Category>& categories, const std::vector<SplitShare>& splits);
    // The same after catalog.CheckSplits(): a named split without frames fails the set.
    void Finish(const DatasetCatalog& catalog);

    // How many images were copied because this system could not link them (Windows).
    std::size_t imagesCopiedForLinks() const { return imagesCopiedForLinks_; }

  private:
    Options options_;
    std::unique_ptr<detail::ExportFolder> folder_;
    std::map<std::string, std::string> written_;  // path -> the frame's source
    std::size_t imagesCopiedForLinks_ = 0;
};

// What a summary says about where validation runs: "" when the splits have a "val", otherwise
// that val names the training images.
ANNOXML_API std::string YoloValidationNote(const std::vector<SplitShare>& splits);

}  // namespace annoxml
