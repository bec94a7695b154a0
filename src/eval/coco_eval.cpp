// The COCO detection evaluation: evaluate(), accumulate() and summarize() as the reference
// Python evaluation computes them, decision for decision. Where its behaviour is an accident of
// its code (the order of equal scores, which ground truth wins a tie, the truncation to 100
// detections per image before matching), the accident is kept, so that the numbers agree.
#include <algorithm>
#include <numeric>
#include <stdexcept>

#include "annoxml/eval.h"

namespace annoxml {
namespace {

constexpr std::size_t kAreas = 4;
// all, small, medium, large: ranges on the ground truth's area, ends included.
constexpr double kAreaRanges[kAreas][2] = {
    {0, 1e5 * 1e5}, {0, 32 * 32}, {32 * 32, 96 * 96}, {96 * 96, 1e5 * 1e5}};

// numpy.linspace(start, stop, num): i * step + start, the last point exactly stop.
std::vector<double> Linspace(double start, double stop, std::size_t num) {
    std::vector<double> values(num);
    const double step = (stop - start) / static_cast<double>(num - 1);
    for (std::size_t i = 0; i < num; ++i) values[i] = static_cast<double>(i) * step + start;
    values.back() = stop;
    return values;
}

// numpy's sum of doubles, pairwise in blocks of eight, so that means agree to the last bit.
double PairwiseSum(const double* a, std::size_t n) {
    if (n < 8) {
        double sum = 0.;
        for (std::size_t i = 0; i < n; ++i) sum += a[i];
        return sum;
    }
    if (n <= 128) {
        double r[8];
        for (int j = 0; j < 8; ++j) r[j] = a[j];
        std::size_t i = 8;
        for (; i < n - n % 8; i += 8) {
            for (int j = 0; j < 8; ++j) r[j] += a[i + static_cast<std::size_t>(j)];
        }
        double sum = ((r[0] + r[1]) + (r[2] + r[3])) + ((r[4] + r[5]) + (r[6] + r[7]));
        for (; i < n; ++i) sum += a[i];
        return sum;
    }
    std::size_t half = n / 2;
    half -= half % 8;
    return PairwiseSum(a, half) + PairwiseSum(a + half, n - half);
}

// numpy.mean of the values that are not -1; -1 when there are none.
double MeanOfValid(const std::vector<double>& values) {
    std::vector<double> valid;
    valid.reserve(values.size());
    for (const double v : values) {
        if (v > -1) valid.push_back(v);
    }
    if (valid.empty()) return -1;
    return (0. + PairwiseSum(valid.data(), valid.size())) / static_cast<double>(valid.size());
}

// One image and category at one area range: evaluateImg()'s result, as accumulate() uses it.
struct ImageResult {
    std::size_t image = 0;  // rank among the sorted image ids
    int unignoredTruths = 0;
    std::vector<double> scores;  // detections in descending score, at most 100
    // Per threshold t and detection d at [t * D + d]: bit 0 matched, bit 1 ignored.
    std::vector<std::uint8_t> flags;
};

constexpr std::uint8_t kMatched = 1;
constexpr std::uint8_t kIgnored = 2;

// Indices of `count` items stably sorted by key.
template <typename Key>
std::vector<std::uint32_t> StableOrder(std::size_t count, Key key) {
    std::vector<std::uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
    return order;
}

class Evaluation {
  public:
    Evaluation(const GroundTruth& truth, const Detections& detections, IouType type)
        : truth_(truth), detections_(detections), type_(type) {
        scores_.type = type;
        scores_.iouThresholds = Linspace(.5, 0.95, 10);
        scores_.recallThresholds = Linspace(.0, 1.00, 101);
        scores_.maxDets = {1, 10, 100};
        SortIds();
    }

    CocoScores Run() {
        EvaluateImages();
        Accumulate();
        Summarize();
        return std::move(scores_);
    }

  private:
    void SortIds() {
        const auto& images = truth_.images();
        imageOrder_ = StableOrder(images.size(), [&](std::uint32_t i) { return images[i].id; });
        imageRank_.resize(images.size());
        for (std::size_t r = 0; r < imageOrder_.size(); ++r) imageRank_[imageOrder_[r]] = r;
        const auto& categories = truth_.categories();
        const std::vector<std::uint32_t> order =
            StableOrder(categories.size(), [&](std::uint32_t i) { return categories[i].id; });
        scores_.categoryOrder.assign(order.begin(), order.end());
        categoryRank_.resize(categories.size());
        for (std::size_t r = 0; r < order.size(); ++r) categoryRank_[order[r]] = r;
    }

    // Ground truth and detections grouped by (category, image) in sorted-id order, each group in
    // file order, as the reference's per-image lists hold them.
    void EvaluateImages() {
        const std::size_t imageCount = truth_.images().size();
        const auto& objects = truth_.objects();
        const auto truthKey = [&](std::uint32_t i) {
            const TruthObject& o = objects[i];
            return categoryRank_[static_cast<std::size_t>(truth_.CategoryIndex(o.categoryId))] *
                       imageCount +
                   imageRank_[static_cast<std::size_t>(truth_.ImageIndex(o.imageId))];
        };
        const auto& items = detections_.items;
        const auto detectionKey = [&](std::uint32_t i) {
            return categoryRank_[items[i].category] * imageCount + imageRank_[items[i].image];
        };
        std::vector<std::size_t> truthKeys(objects.size());
        for (std::uint32_t i = 0; i < objects.size(); ++i) truthKeys[i] = truthKey(i);
        std::vector<std::size_t> detectionKeys(items.size());
        for (std::uint32_t i = 0; i < items.size(); ++i) detectionKeys[i] = detectionKey(i);
        const std::vector<std::uint32_t> truthOrder =
            StableOrder(objects.size(), [&](std::uint32_t i) { return truthKeys[i]; });
        const std::vector<std::uint32_t> detectionOrder =
            StableOrder(items.size(), [&](std::uint32_t i) { return detectionKeys[i]; });
        const std::size_t categories = truth_.categories().size();
        results_.assign(categories * kAreas, {});
        std::size_t t = 0, d = 0;
        std::vector<std::uint32_t> groupTruths, groupDetections;
        while (t < truthOrder.size() || d < detectionOrder.size()) {
            const std::size_t key =
                std::min(t < truthOrder.size() ? truthKeys[truthOrder[t]] : SIZE_MAX,
                         d < detectionOrder.size() ? detectionKeys[detectionOrder[d]] : SIZE_MAX);
            groupTruths.clear();
            groupDetections.clear();
            for (; t < truthOrder.size() && truthKeys[truthOrder[t]] == key; ++t) {
                groupTruths.push_back(truthOrder[t]);
            }
            for (; d < detectionOrder.size() && detectionKeys[detectionOrder[d]] == key; ++d) {
                groupDetections.push_back(detectionOrder[d]);
            }
            EvaluateGroup(key / imageCount, key % imageCount, groupTruths, groupDetections);
        }
    }

    // computeIoU() and evaluateImg() for every area range of one image and category.
    void EvaluateGroup(std::size_t k, std::size_t image, const std::vector<std::uint32_t>& gts,
                       std::vector<std::uint32_t> dts) {
        const auto& items = detections_.items;
        std::stable_sort(dts.begin(), dts.end(), [&](std::uint32_t a, std::uint32_t b) {
            return items[a].score > items[b].score;
        });
        const std::size_t maxDet = static_cast<std::size_t>(scores_.maxDets.back());
        if (dts.size() > maxDet) dts.resize(maxDet);
        const std::vector<double> ious = Ious(gts, dts);  // [d * G + g], gts in file order
        const auto& objects = truth_.objects();
        const std::size_t T = scores_.iouThresholds.size();
        const std::size_t G = gts.size();
        const std::size_t D = dts.size();
        for (std::size_t a = 0; a < kAreas; ++a) {
            const double low = kAreaRanges[a][0], high = kAreaRanges[a][1];
            std::vector<std::uint8_t> ignored(G);
            for (std::size_t g = 0; g < G; ++g) {
                const TruthObject& o = objects[gts[g]];
                ignored[g] = o.crowd || o.area < low || o.area > high;
            }
            // Ground truth that counts first, each part in file order.
            const std::vector<std::uint32_t> gtOrder =
                StableOrder(G, [&](std::uint32_t g) { return ignored[g]; });
            ImageResult result;
            result.image = image;
            result.flags.assign(T * D, 0);
            for (std::size_t g = 0; g < G; ++g) result.unignoredTruths += ignored[g] == 0;
            for (const std::uint32_t d : dts) result.scores.push_back(items[d].score);
            std::vector<std::uint8_t> taken(G);
            for (std::size_t t = 0; t < T; ++t) {
                std::fill(taken.begin(), taken.end(), 0);
                for (std::size_t d = 0; d < D; ++d) {
                    double best = std::min(scores_.iouThresholds[t], 1 - 1e-10);
                    long m = -1;
                    for (std::size_t i = 0; i < G; ++i) {
                        const std::size_t g = gtOrder[i];
                        const bool crowd = objects[gts[g]].crowd;
                        if (taken[g] && !crowd) continue;
                        if (m > -1 && !ignored[static_cast<std::size_t>(m)] && ignored[g]) break;
                        const double iou = ious[d * G + g];
                        if (iou < best) continue;
                        best = iou;  // a later tie wins, as in the reference
                        m = static_cast<long>(g);
                    }
                    if (m == -1) continue;
                    const std::size_t g = static_cast<std::size_t>(m);
                    std::uint8_t flag = ignored[g] ? kIgnored : 0;
                    // A match is recorded as the object's id, so an id of 0 reads as no match.
                    if (objects[gts[g]].id != 0) flag |= kMatched;
                    result.flags[t * D + d] = flag;
                    taken[g] = 1;
                }
            }
            for (std::size_t d = 0; d < D; ++d) {
                const double area = DetectionArea(items[dts[d]]);
                if (!(area < low || area > high)) continue;
                for (std::size_t t = 0; t < T; ++t) {
                    if (!(result.flags[t * D + d] & kMatched)) result.flags[t * D + d] |= kIgnored;
                }
            }
            results_[k * kAreas + a].push_back(std::move(result));
        }
    }

    double DetectionArea(const Detection& detection) const {
        return detections_.areaFromBox ? detection.box.width * detection.box.height
                                       : detection.maskArea;
    }

    std::vector<double> Ious(const std::vector<std::uint32_t>& gts,
                             const std::vector<std::uint32_t>& dts) const {
        const auto& objects = truth_.objects();
        const auto& items = detections_.items;
        std::vector<double> ious(gts.size() * dts.size());
        if (type_ == IouType::Bbox) {
            for (std::size_t d = 0; d < dts.size(); ++d) {
                for (std::size_t g = 0; g < gts.size(); ++g) {
                    const TruthObject& o = objects[gts[g]];
                    ious[d * gts.size() + g] = BoxIou(items[dts[d]].box, o.box, o.crowd);
                }
            }
            return ious;
        }
        if (gts.empty() || dts.empty()) return ious;
        std::vector<Box> truthBoxes;
        for (const std::uint32_t g : gts) truthBoxes.push_back(RleBox(objects[g].mask));
        for (std::size_t d = 0; d < dts.size(); ++d) {
            const Detection& detection = items[dts[d]];
            if (detection.mask.empty()) {
                throw std::invalid_argument("segm evaluation without the detections' masks");
            }
            const EvalImage& image = truth_.images()[detection.image];
            const Rle mask = RleFromString(detection.mask, image.height, image.width);
            const Box box = RleBox(mask);
            for (std::size_t g = 0; g < gts.size(); ++g) {
                const TruthObject& o = objects[gts[g]];
                // Masks whose boxes do not meet share no pixel: the reference's own shortcut.
                ious[d * gts.size() + g] =
                    BoxIou(box, truthBoxes[g], false) > 0 ? RleIou(mask, o.mask, o.crowd) : 0;
            }
        }
        return ious;
    }

    void Accumulate() {
        const std::size_t T = scores_.iouThresholds.size();
        const std::size_t R = scores_.recallThresholds.size();
        const std::size_t K = truth_.categories().size();
        const std::size_t M = scores_.maxDets.size();
        scores_.precision.assign(T * R * K * kAreas * M, -1);
        scores_.recall.assign(T * K * kAreas * M, -1);
        for (std::size_t k = 0; k < K; ++k) {
            for (std::size_t a = 0; a < kAreas; ++a) {
                for (std::size_t m = 0; m < M; ++m) {
                    AccumulateOne(k, a, m);
                }
            }
        }
    }

    void AccumulateOne(std::size_t k, std::size_t a, std::size_t m) {
        const std::vector<ImageResult>& images = results_[k * kAreas + a];
        if (images.empty()) return;
        const std::size_t maxDet = static_cast<std::size_t>(scores_.maxDets[m]);
        const std::size_t T = scores_.iouThresholds.size();
        const std::size_t R = scores_.recallThresholds.size();
        const std::size_t K = truth_.categories().size();
        // The first maxDet detections of each image, images in id order, then stably by score.
        std::vector<double> scores;
        std::vector<std::pair<const ImageResult*, std::size_t>> source;
        long unignored = 0;
        for (const ImageResult& image : images) {
            const std::size_t kept = std::min(maxDet, image.scores.size());
            for (std::size_t d = 0; d < kept; ++d) {
                scores.push_back(image.scores[d]);
                source.emplace_back(&image, d);
            }
            unignored += image.unignoredTruths;
        }
        if (unignored == 0) return;
        const std::vector<std::uint32_t> order =
            StableOrder(scores.size(), [&](std::uint32_t i) { return -scores[i]; });
        const std::size_t nd = order.size();
        std::vector<double> rc(nd), pr(nd);
        for (std::size_t t = 0; t < T; ++t) {
            double tp = 0, fp = 0;
            for (std::size_t i = 0; i < nd; ++i) {
                const auto& [image, d] = source[order[i]];
                const std::uint8_t flag = image->flags[t * image->scores.size() + d];
                if (!(flag & kIgnored)) {
                    if (flag & kMatched) {
                        tp += 1;
                    } else {
                        fp += 1;
                    }
                }
                rc[i] = tp / static_cast<double>(unignored);
                pr[i] = tp / (fp + tp + 2.220446049250313e-16);
            }
            scores_.recall[((t * K + k) * kAreas + a) * scores_.maxDets.size() + m] =
                nd ? rc[nd - 1] : 0;
            // Precision made monotone from the right, then read at the first detection that
            // reaches each recall point; recall points beyond the last detection stay 0.
            for (std::size_t i = nd; i-- > 1;) {
                if (pr[i] > pr[i - 1]) pr[i - 1] = pr[i];
            }
            std::size_t i = 0;
            for (std::size_t r = 0; r < R; ++r) {
                while (i < nd && rc[i] < scores_.recallThresholds[r]) ++i;
                scores_.precision[Index(t, r, k, a, m)] = i < nd ? pr[i] : 0;
            }
        }
    }

    std::size_t Index(std::size_t t, std::size_t r, std::size_t k, std::size_t a,
                      std::size_t m) const {
        const std::size_t R = scores_.recallThresholds.size();
        const std::size_t K = truth_.categories().size();
        return (((t * R + r) * K + k) * kAreas + a) * scores_.maxDets.size() + m;
    }

    // summarize(): the mean of the valid entries at one threshold (or all), area and maxDets.
    double Summary(bool ap, double iouThreshold, std::size_t a, int maxDets) const {
        const std::size_t T = scores_.iouThresholds.size();
        const std::size_t R = scores_.recallThresholds.size();
        const std::size_t K = truth_.categories().size();
        const std::size_t M = scores_.maxDets.size();
        std::size_t m = M;
        for (std::size_t i = 0; i < M; ++i) {
            if (scores_.maxDets[i] == maxDets) m = i;
        }
        std::vector<double> values;
        for (std::size_t t = 0; t < T; ++t) {
            // An exact comparison, as numpy.where(iouThr == iouThrs) makes it.
            if (iouThreshold >= 0 && scores_.iouThresholds[t] != iouThreshold) continue;
            if (ap) {
                for (std::size_t r = 0; r < R; ++r) {
                    for (std::size_t k = 0; k < K; ++k) {
                        values.push_back(scores_.precision[Index(t, r, k, a, m)]);
                    }
                }
            } else {
                for (std::size_t k = 0; k < K; ++k) {
                    values.push_back(scores_.recall[((t * K + k) * kAreas + a) * M + m]);
                }
            }
        }
        return MeanOfValid(values);
    }

    void Summarize() {
        const double all = -1;
        scores_.stats = {
            Summary(true, all, 0, 100),  Summary(true, .5, 0, 100),   Summary(true, .75, 0, 100),
            Summary(true, all, 1, 100),  Summary(true, all, 2, 100),  Summary(true, all, 3, 100),
            Summary(false, all, 0, 1),   Summary(false, all, 0, 10),  Summary(false, all, 0, 100),
            Summary(false, all, 1, 100), Summary(false, all, 2, 100), Summary(false, all, 3, 100)};
        const std::size_t K = truth_.categories().size();
        scores_.categoryAp.assign(K, -1);
        for (std::size_t k = 0; k < K; ++k) {
            std::vector<double> values;
            for (std::size_t t = 0; t < scores_.iouThresholds.size(); ++t) {
                for (std::size_t r = 0; r < scores_.recallThresholds.size(); ++r) {
                    values.push_back(scores_.precision[Index(t, r, k, 0, 2)]);
                }
            }
            scores_.categoryAp[scores_.categoryOrder[k]] = MeanOfValid(values);
        }
    }

    const GroundTruth& truth_;
    const Detections& detections_;
    IouType type_;
    CocoScores scores_;
    std::vector<std::uint32_t> imageOrder_;
    std::vector<std::size_t> imageRank_;
    std::vector<std::size_t> categoryRank_;
    std::vector<std::vector<ImageResult>> results_;  // [k * kAreas + a], images in id order
};

}  // namespace

const std::array<const char*, 12>& SummaryNames() {
    static const std::array<const char*, 12> names = {"AP",  "AP50", "AP75",  "APs", "APm", "APl",
                                                      "AR1", "AR10", "AR100", "ARs", "ARm", "ARl"};
    return names;
}

double CocoScores::Precision(std::size_t t, std::size_t r, std::size_t k, std::size_t a,
                             std::size_t m) const {
    const std::size_t R = recallThresholds.size();
    const std::size_t K = categoryOrder.size();
    return precision[(((t * R + r) * K + k) * kAreas + a) * maxDets.size() + m];
}

CocoScores EvaluateCoco(const GroundTruth& truth, const Detections& detections, IouType type) {
    return Evaluation(truth, detections, type).Run();
}

}  // namespace annoxml
