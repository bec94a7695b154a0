// Counts over many frames: shapes per kind, regions per category, masks and failed files.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "annoxml/export.h"
#include "annoxml/frame.h"

namespace annoxml {

inline constexpr std::size_t kShapeKindCount = 15;

struct CategoryCount {
    std::string name;
    std::string color;  // the first non-empty LabelColor given for the name
    std::size_t regions = 0;
};

struct FailedFile {
    std::string path;
    std::string message;
};

class ANNOXML_API Statistics {
  public:
    void Add(const Frame& frame);
    void AddFailure(std::string path, std::string message);

    std::size_t frames() const { return frames_; }
    std::size_t framesWithoutRegions() const { return framesWithoutRegions_; }
    std::size_t shapes(ShapeKind kind) const { return shapes_[static_cast<std::size_t>(kind)]; }
    std::size_t regions() const;
    std::size_t marks() const;
    std::size_t masks() const { return masks_; }
    std::size_t regionsInMasks() const { return regionsInMasks_; }
    // In order of first appearance: frames in the order added, label-list order within a frame.
    const std::vector<CategoryCount>& categories() const { return categories_; }
    const std::vector<FailedFile>& failures() const { return failures_; }

  private:
    CategoryCount& Category(const std::string& name);

    std::size_t frames_ = 0;
    std::size_t framesWithoutRegions_ = 0;
    std::array<std::size_t, kShapeKindCount> shapes_{};
    std::size_t masks_ = 0;
    std::size_t regionsInMasks_ = 0;
    std::vector<CategoryCount> categories_;
    std::unordered_map<std::string, std::size_t> categoryIndex_;
    std::vector<FailedFile> failures_;
};

// Every kind, in the order of ShapeKind.
ANNOXML_API const std::array<ShapeKind, kShapeKindCount>& AllShapeKinds();

// One headline count: its JSON key and its name in tables.
struct SummaryCount {
    const char* key;    // "frames_without_regions"
    const char* label;  // "without regions"
    std::size_t count = 0;
};

// Frames, without regions, regions, marks, masks, regions in masks, failures: shared by the
// terminal table, the JSON and the preview's index.
ANNOXML_API std::vector<SummaryCount> StatisticsSummary(const Statistics& statistics);

// One JSON object: the summary's counts by key ("frames", "frames_without_regions", "regions",
// "marks", "masks", "regions_in_masks", "failures"), then "shapes": {kind: count, ...},
// "categories": [{"name", "color", "regions"}] and "failed": [{"path", "message"}].
// `indent` < 0: compact.
ANNOXML_API std::string StatisticsJson(const Statistics& statistics, int indent = -1);

// The same as aligned text tables for a terminal.
ANNOXML_API std::string StatisticsTable(const Statistics& statistics);

}  // namespace annoxml
