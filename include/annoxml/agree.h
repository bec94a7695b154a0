// Agreement between raters who annotated the same frames, each in a folder of their own: Dice and
// IoU of the category masks, one-to-one region matching, Cohen's and Fleiss' kappa of category
// presence, and consensus masks by majority vote or STAPLE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "annoxml/dataset.h"
#include "annoxml/export.h"
#include "annoxml/frame.h"
#include "annoxml/masks.h"

namespace annoxml {

// How rater b agrees with rater a over a set of frames; nothing where a number is undefined.
struct AgreementMeasures {
    std::optional<double> dice;      // pooled: 2 |A ∩ B| / (|A| + |B|) summed over frames
    std::optional<double> iou;       // pooled: |A ∩ B| / |A ∪ B|
    std::optional<double> diceMean;  // mean of each frame's Dice over frames where either drew
    std::optional<double> iouMean;
    // Regions matched one to one at IoU >= 0.5 within a category (greedy, highest IoU first);
    // b's regions are the detections, a's the reference.
    std::optional<double> precision;
    std::optional<double> recall;
    std::optional<double> f1;
    std::optional<double> matchedIou;  // mean IoU of the matched pairs
    std::optional<double> kappa;       // Cohen's kappa of (frame, category) presence
};

// The sums behind AgreementMeasures, over frames.
struct ANNOXML_API AgreementCounts {
    std::uint64_t intersection = 0;  // pixels of the same category in both masks
    std::uint64_t areaA = 0;
    std::uint64_t areaB = 0;
    double diceSum = 0;  // per-frame Dice and IoU, over the frames where either drew
    double iouSum = 0;
    std::uint64_t drawnFrames = 0;
    std::uint64_t regionsA = 0;
    std::uint64_t regionsB = 0;
    std::uint64_t matches = 0;
    double matchedIouSum = 0;
    // Presence of a category in a frame (some region of it): in both, in a only, in b only.
    std::uint64_t presentBoth = 0;
    std::uint64_t presentAOnly = 0;
    std::uint64_t presentBOnly = 0;

    void Add(const AgreementCounts& other);
    // `presenceCases`: the (frame, category) cases counted, including those neither marked.
    AgreementMeasures Measures(std::uint64_t presenceCases) const;
};

// Cohen's kappa of a 2 x 2 table. Raters who agree on every case have kappa 1, even when the
// chance agreement is 1 too (all cases alike); nothing for an empty table.
ANNOXML_API std::optional<double> CohenKappa(std::uint64_t both, std::uint64_t aOnly,
                                             std::uint64_t bOnly, std::uint64_t neither);

// Fleiss' kappa of a yes/no rating: `yesVotes[i]` of `raters` raters said yes for case i.
// Unanimous ratings give 1; nothing for no cases or fewer than two raters.
ANNOXML_API std::optional<double> FleissKappa(const std::vector<int>& yesVotes, int raters);

// STAPLE (Warfield, Zou and Wells, 2004) for one binary label: the expectation-maximisation of each
// rater's sensitivity and specificity. Pixels are given as counts of their decision pattern
// (bit j set: rater j marked the pixel), so that the many pixels nobody marked cost nothing.
struct StapleFit {
    std::vector<double> sensitivity;  // per rater
    std::vector<double> specificity;
    double prior = 0;  // the fixed share of foreground: the raters' mean share of marked pixels
    // The probability that a pixel of each pattern is truly foreground, by pattern.
    std::map<std::uint64_t, double> posterior;
};
// Throws std::invalid_argument for fewer than 1 or more than 64 raters.
ANNOXML_API StapleFit FitStaple(const std::map<std::uint64_t, std::uint64_t>& patternCounts,
                                int raters);

enum class ConsensusMethod { None, Majority, Staple };

// Parses "majority" or "staple"; throws std::invalid_argument otherwise.
ANNOXML_API ConsensusMethod ParseConsensusMethod(const std::string& name);

struct AgreementOptions {
    std::vector<std::string> raters;  // how each rater is named, in order: its folder
    ConsensusMethod consensus = ConsensusMethod::None;
    std::size_t lowestFrames =
        0;  // how many frames of lowest agreement to keep, with their regions
};

// One frame as each rater drew it, compared. Made by AgreementStudy::Compare on any thread.
struct FrameComparison {
    std::string path;    // below the raters' folders
    std::string folder;  // its folder below them, "" at the top
    // Per pair of raters (0-1, 0-2, ..., 1-2, ...): counts by category id.
    std::vector<std::map<int, AgreementCounts>> pairs;
    // Per category id, how many raters marked it in this frame (at least one).
    std::map<int, int> presenceVotes;
    // With STAPLE: pixel counts of each decision pattern by category id, marked by somebody.
    std::map<int, std::map<std::uint64_t, std::uint64_t>> patterns;
    std::uint64_t pixels = 0;
    double score = 1;  // mean over pairs of the frame's Dice over all categories; 1 when empty
    std::optional<MaskImage> consensus;  // with a consensus method
};

// A frame of lowest agreement, with every rater's version for drawing.
struct DisagreementFrame {
    std::string path;
    double score = 1;
    std::vector<Frame> frames;  // per rater, labels renamed
};

struct PairAgreement {
    std::size_t a = 0;  // rater indices
    std::size_t b = 1;
    AgreementMeasures overall;
    std::map<std::string, AgreementMeasures> perCategory;  // by name
    std::map<std::string, AgreementMeasures> perFolder;    // by folder below the inputs
};

struct RaterEstimate {
    std::optional<double> sensitivity;
    std::optional<double> specificity;
};

struct AgreementReport {
    std::vector<std::string> raters;
    std::size_t frames = 0;
    std::vector<std::string> unmatchedFrames;  // paths in some folders only
    std::vector<PairAgreement> pairs;
    // With three raters or more: each measure's mean over the pairs where it is defined, and
    // Fleiss' kappa of presence by category name.
    std::optional<PairAgreement> meanOfPairs;
    std::map<std::string, std::optional<double>> fleissKappa;
    ConsensusMethod consensus = ConsensusMethod::None;
    // With STAPLE: by category name, each rater's estimates over all frames taken together.
    std::map<std::string, std::vector<RaterEstimate>> staple;
    std::vector<DisagreementFrame> lowest;  // lowest score first
};

// Gathers the comparison of many frames. Compare is safe on any thread; Add, AddUnmatched and
// Finish take frames in order on one, so that the numbers do not depend on timing.
class ANNOXML_API AgreementStudy {
  public:
    explicit AgreementStudy(AgreementOptions options);
    ~AgreementStudy();
    AgreementStudy(const AgreementStudy&) = delete;
    AgreementStudy& operator=(const AgreementStudy&) = delete;

    // Compares one frame as each rater drew it (one per rater, in order; categories resolved by
    // one catalog). `largestCategoryId` decides the consensus mask's depth, as in `masks --mode
    // category`. Throws std::invalid_argument when the frames differ in size or number.
    FrameComparison Compare(const std::vector<const DatasetFrame*>& frames,
                            int largestCategoryId) const;
    // Counts a compared frame; `frames` as given to Compare, kept when it is among the lowest.
    void Add(FrameComparison comparison, const std::vector<const DatasetFrame*>& frames);
    void AddUnmatched(std::string path);

    AgreementReport Finish(const std::vector<Category>& categories) const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The report as one JSON object (see README), `indent` < 0 compact.
ANNOXML_API std::string AgreementJson(const AgreementReport& report, int indent = -1);
// The report as plain-text tables.
ANNOXML_API std::string AgreementTable(const AgreementReport& report);
// Writes DIR/index.html: the tables and the frames of lowest agreement drawn over their images,
// each rater's regions in a colour of its own. Images are looked for as the preview does.
ANNOXML_API void WriteAgreementPage(const AgreementReport& report, const std::string& outDir,
                                    const std::string& imagesDir);

}  // namespace annoxml
