// Scoring a model's predictions against ground truth: the COCO detection numbers exactly as the
// reference COCO evaluation computes them, and per-frame mask and detection numbers.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "annoxml/dataset.h"
#include "annoxml/export.h"
#include "annoxml/frame.h"
#include "annoxml/rle.h"

namespace annoxml {

enum class IouType { Bbox, Segm };
ANNOXML_API const char* IouTypeName(IouType type);  // "bbox", "segm"

// What the evaluation needs besides boxes: the reference rule's masks for segm, the pixel-centre
// masks for the per-frame numbers.
struct MaskNeeds {
    bool coco = false;
    bool pixel = false;
};

struct EvalImage {
    std::int64_t id = 0;
    int width = 0;
    int height = 0;
    std::string fileName;
    std::string folder;  // the video the frame belongs to: "" at the top
};

struct EvalCategory {
    std::int64_t id = 0;
    std::string name;
};

struct TruthObject {
    std::int64_t id = 0;
    std::int64_t imageId = 0;
    std::int64_t categoryId = 0;
    double area = 0;  // as the file gives it: the area ranges are taken on it
    bool crowd = false;
    Box box;
    Rle mask;       // by the reference's polygon rule, with MaskNeeds::coco
    Rle pixelMask;  // by the pixel-centre rule, with MaskNeeds::pixel
};

// The ground truth: a COCO instances file, or data-set frames with the ids `dataset` gives them.
class ANNOXML_API GroundTruth {
  public:
    // Reads a COCO instances file. Throws std::runtime_error naming the file and the entry.
    static GroundTruth LoadCoco(const std::string& path, MaskNeeds needs);

    // Adds a frame as DatasetWriter::Add numbers it within its file: image ids and annotation ids
    // from 1 in the order added. `folder` is the frame's video.
    void AddFrame(const DatasetFrame& admitted, const std::string& folder, MaskNeeds needs);
    // The categories, once all frames are added.
    void SetCategories(const std::vector<Category>& categories);

    const std::vector<EvalImage>& images() const { return images_; }
    const std::vector<EvalCategory>& categories() const { return categories_; }
    const std::vector<TruthObject>& objects() const { return objects_; }
    // Index into images() / categories(), or -1.
    long ImageIndex(std::int64_t id) const;
    long CategoryIndex(std::int64_t id) const;

  private:
    std::vector<EvalImage> images_;
    std::vector<EvalCategory> categories_;
    std::vector<TruthObject> objects_;
    std::unordered_map<std::int64_t, std::size_t> imageIndex_;
    std::unordered_map<std::int64_t, std::size_t> categoryIndex_;
};

// One entry of a COCO results file, with its segmentation kept compressed.
struct Detection {
    std::uint32_t image = 0;     // index into GroundTruth::images()
    std::uint32_t category = 0;  // index into GroundTruth::categories()
    double score = 0;
    Box box;                // as given, or the box of the mask when none is given
    double maskArea = 0;    // pixels of `mask`
    std::string mask;       // compressed counts by the reference rule; "" without segmentation
    std::string pixelMask;  // compressed counts by the pixel-centre rule, for the per-frame numbers
    bool hasBox = false;
    bool hasSegmentation = false;
};

struct Detections {
    std::vector<Detection> items;  // in the file's order
    // The reference takes every detection's area from its box when the first entry has a box,
    // from its mask otherwise; the area ranges of segm depend on it.
    bool areaFromBox = true;
};

// A results file that cannot be used: the message names the file and the entry's position.
class ANNOXML_API DetectionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads a COCO results file: an array of {image_id, category_id, bbox, score, segmentation} with
// the segmentation as polygons, a compressed RLE or an uncompressed one. The file is streamed:
// memory grows with the detections kept, not with the text. Throws DetectionError on malformed
// JSON, an unknown image or category id, a segmentation of another size than its image, a score
// that is not a finite number, or an entry without bbox or segmentation. Masks are made in
// batches on `threads` threads.
ANNOXML_API Detections LoadDetections(const std::string& path, const GroundTruth& truth,
                                      MaskNeeds needs, unsigned threads = 1);

// The reference evaluation's accumulated results and its twelve summary numbers.
struct CocoScores {
    IouType type = IouType::Bbox;
    std::vector<double> iouThresholds;     // .50:.05:.95
    std::vector<double> recallThresholds;  // 0:.01:1
    std::vector<int> maxDets;              // 1, 10, 100
    // AP, AP50, AP75, APs, APm, APl, AR1, AR10, AR100, ARs, ARm, ARl; -1 where nothing counts.
    std::array<double, 12> stats{};
    // Per category (GroundTruth::categories() order): AP over IoU thresholds and recall points at
    // area "all" and 100 detections; -1 where the category has no ground truth.
    std::vector<double> categoryAp;
    // precision[t][r][k][a][m] and recall[t][k][a][m] as the reference lays them out, with k in
    // the order of sorted category ids; -1 where nothing counts.
    std::vector<double> precision;
    std::vector<double> recall;
    std::vector<std::size_t> categoryOrder;  // k -> index into GroundTruth::categories()

    double Precision(std::size_t t, std::size_t r, std::size_t k, std::size_t a,
                     std::size_t m) const;
};

ANNOXML_API const std::array<const char*, 12>& SummaryNames();

// evaluate(), accumulate() and summarize() of the reference COCO evaluation, with its default
// parameters. Throws std::invalid_argument when segm is asked without masks loaded.
ANNOXML_API CocoScores EvaluateCoco(const GroundTruth& truth, const Detections& detections,
                                    IouType type);

// Per-frame numbers of one group of frames and categories; -1 where nothing counts.
struct FrameScores {
    double dice = -1;         // mean over frames holding a region or a prediction
    double iou = -1;          // the same for the IoU of the unions
    double sensitivity = -1;  // frames with a region where a prediction reaches IoU 0.5 with one
    double specificity = -1;  // frames without a region and without a prediction
    double fpPerFrame = -1;   // predictions reaching IoU 0.5 with no region, per frame
    long frames = 0;
};

struct FrameReport {
    double scoreThreshold = 0.5;
    FrameScores overall;
    std::vector<FrameScores> perCategory;                       // categories() order
    std::map<std::string, std::vector<FrameScores>> perFolder;  // folder -> per category
};

// Per frame and category: the union of the predictions scoring >= threshold against the union of
// the regions, pixel-centre masks on both sides. `overall` pools every (frame, category) pair.
ANNOXML_API FrameReport EvaluateFrames(const GroundTruth& truth, const Detections& detections,
                                       double scoreThreshold);

// The --json document: {"bbox": ..., "segm": ..., "frames": ...} with what was computed.
ANNOXML_API std::string EvalJson(const GroundTruth& truth, const std::vector<CocoScores>& scores,
                                 const FrameReport* frames);
// The tables printed without --json.
ANNOXML_API std::string EvalTable(const GroundTruth& truth, const std::vector<CocoScores>& scores,
                                  const FrameReport* frames);
// Precision-recall curves as SVG, one per category and IoU type, and index.html showing them
// with the tables. Throws std::runtime_error when a file cannot be written.
ANNOXML_API void WriteEvalPlots(const std::string& dir, const GroundTruth& truth,
                                const std::vector<CocoScores>& scores, const FrameReport* frames);

}  // namespace annoxml
