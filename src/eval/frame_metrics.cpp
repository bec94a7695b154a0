// Per-frame numbers: how well the predicted masks cover the annotated ones frame by frame, and
// whether a frame's lesion is found, counted per category, overall and per video.
#include <map>

#include "annoxml/eval.h"

namespace annoxml {
namespace {

constexpr double kHitIou = 0.5;

struct Tally {
    long frames = 0;
    long held = 0;  // (frame, category) pairs with a region or a prediction
    double dice = 0;
    double iou = 0;
    long lesions = 0;
    long found = 0;
    long clean = 0;
    long cleanQuiet = 0;
    long falsePositives = 0;

    FrameScores Scores() const {
        FrameScores s;
        s.frames = frames;
        if (held > 0) {
            s.dice = dice / static_cast<double>(held);
            s.iou = iou / static_cast<double>(held);
        }
        if (lesions > 0) s.sensitivity = static_cast<double>(found) / static_cast<double>(lesions);
        if (clean > 0) s.specificity = static_cast<double>(cleanQuiet) / static_cast<double>(clean);
        if (frames > 0)
            s.fpPerFrame = static_cast<double>(falsePositives) / static_cast<double>(frames);
        return s;
    }
};

// One frame's outcome for one category.
struct PairOutcome {
    bool held = false;
    double dice = 0;
    double iou = 0;
    bool lesion = false;
    bool found = false;
    bool predicted = false;
    long falsePositives = 0;

    void AddTo(Tally& tally) const {
        if (held) {
            ++tally.held;
            tally.dice += dice;
            tally.iou += iou;
        }
        if (lesion) {
            ++tally.lesions;
            tally.found += found;
        } else {
            ++tally.clean;
            tally.cleanQuiet += !predicted;
        }
        tally.falsePositives += falsePositives;
    }
};

Rle EmptyMask(const EvalImage& image) {
    return Rle{image.height,
               image.width,
               {static_cast<std::uint32_t>(static_cast<std::uint64_t>(image.height) *
                                           static_cast<std::uint64_t>(image.width))}};
}

PairOutcome Compare(const EvalImage& image, const std::vector<const Rle*>& truths,
                    const std::vector<Rle>& predictions) {
    PairOutcome outcome;
    outcome.lesion = !truths.empty();
    outcome.predicted = !predictions.empty();
    outcome.held = outcome.lesion || outcome.predicted;
    if (!outcome.held) return outcome;
    std::vector<Rle> truthMasks;
    for (const Rle* truth : truths) truthMasks.push_back(*truth);
    const Rle truthUnion = truthMasks.empty() ? EmptyMask(image) : RleMerge(truthMasks);
    const Rle predictedUnion = predictions.empty() ? EmptyMask(image) : RleMerge(predictions);
    const double both = static_cast<double>(RleIntersectionArea(truthUnion, predictedUnion));
    const double a = static_cast<double>(RleArea(truthUnion));
    const double b = static_cast<double>(RleArea(predictedUnion));
    // Two empty masks agree.
    outcome.dice = a + b > 0 ? 2 * both / (a + b) : 1;
    outcome.iou = a + b - both > 0 ? both / (a + b - both) : 1;
    for (const Rle& prediction : predictions) {
        bool hit = false;
        for (const Rle* truth : truths) hit = hit || RleIou(prediction, *truth, false) >= kHitIou;
        outcome.found = outcome.found || hit;
        outcome.falsePositives += !hit;
    }
    return outcome;
}

}  // namespace

FrameReport EvaluateFrames(const GroundTruth& truth, const Detections& detections,
                           double scoreThreshold) {
    const auto& images = truth.images();
    const std::size_t K = truth.categories().size();
    // Per image, per category: the regions' masks and the predictions kept.
    std::vector<std::vector<std::uint32_t>> truthsOf(images.size()), detectionsOf(images.size());
    for (std::uint32_t i = 0; i < truth.objects().size(); ++i) {
        truthsOf[static_cast<std::size_t>(truth.ImageIndex(truth.objects()[i].imageId))].push_back(
            i);
    }
    for (std::uint32_t i = 0; i < detections.items.size(); ++i) {
        const Detection& detection = detections.items[i];
        if (detection.score >= scoreThreshold) detectionsOf[detection.image].push_back(i);
    }
    Tally overall;
    std::vector<Tally> perCategory(K);
    std::map<std::string, std::vector<Tally>> perFolder;
    for (std::size_t f = 0; f < images.size(); ++f) {
        const EvalImage& image = images[f];
        std::vector<std::vector<const Rle*>> truths(K);
        for (const std::uint32_t i : truthsOf[f]) {
            const TruthObject& object = truth.objects()[i];
            truths[static_cast<std::size_t>(truth.CategoryIndex(object.categoryId))].push_back(
                &object.pixelMask);
        }
        std::vector<std::vector<Rle>> predictions(K);
        for (const std::uint32_t i : detectionsOf[f]) {
            const Detection& detection = detections.items[i];
            const std::string& counts =
                detection.pixelMask.empty() ? detection.mask : detection.pixelMask;
            predictions[detection.category].push_back(
                RleFromString(counts, image.height, image.width));
        }
        std::vector<Tally>& folder = perFolder[image.folder.empty() ? "." : image.folder];
        folder.resize(K);
        ++overall.frames;
        for (std::size_t k = 0; k < K; ++k) {
            const PairOutcome outcome = Compare(image, truths[k], predictions[k]);
            outcome.AddTo(overall);
            outcome.AddTo(perCategory[k]);
            outcome.AddTo(folder[k]);
            ++perCategory[k].frames;
            ++folder[k].frames;
        }
    }
    FrameReport report;
    report.scoreThreshold = scoreThreshold;
    report.overall = overall.Scores();
    for (const Tally& tally : perCategory) report.perCategory.push_back(tally.Scores());
    for (const auto& [name, tallies] : perFolder) {
        std::vector<FrameScores>& scores = report.perFolder[name];
        for (const Tally& tally : tallies) scores.push_back(tally.Scores());
    }
    return report;
}

}  // namespace annoxml
