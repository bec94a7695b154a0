// Comparing each frame as the raters drew it, and gathering the comparisons.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "agree/internal.h"
#include "agree/spans.h"
#include "annoxml/agree.h"

namespace annoxml {
namespace {

using detail::LabeledSpan;

constexpr double kMatchingIou = 0.5;

std::optional<double> Ratio(double numerator, double denominator) {
    if (denominator == 0) return std::nullopt;
    return numerator / denominator;
}

// The rows and columns a region's pixels span, [first, last].
struct PixelBounds {
    int top = 0;
    int bottom = -1;
    int left = 0;
    int right = -1;
};

PixelBounds BoundsOf(const std::vector<PixelSpan>& spans) {
    PixelBounds bounds;
    if (spans.empty()) return bounds;
    bounds = {spans.front().y, spans.back().y, spans.front().begin, spans.front().end - 1};
    for (const PixelSpan& span : spans) {
        bounds.left = std::min(bounds.left, span.begin);
        bounds.right = std::max(bounds.right, span.end - 1);
    }
    return bounds;
}

bool BoundsMeet(const PixelBounds& a, const PixelBounds& b) {
    return a.top <= b.bottom && b.top <= a.bottom && a.left <= b.right && b.left <= a.right;
}

// One rater's version of a frame: each region's pixels and label, and the painted mask.
struct RaterPixels {
    std::vector<std::vector<PixelSpan>> regions;
    std::vector<std::uint64_t> regionAreas;
    std::vector<PixelBounds> regionBounds;
    std::vector<int> labels;  // per region: index into the frame's category ids, from 1
    std::vector<LabeledSpan> mask;
    std::vector<std::uint64_t> labelAreas;  // by label
    std::vector<bool> present;              // by label: some region has it
};

RaterPixels PixelsOf(const DatasetFrame& frame, const std::vector<int>& ids) {
    RaterPixels pixels;
    const std::vector<Region>& regions = frame.frame.regions;
    pixels.present.assign(ids.size() + 1, false);
    for (std::size_t i = 0; i < regions.size(); ++i) {
        pixels.regions.push_back(
            OutlineSpans(regions[i].outline, frame.frame.width, frame.frame.height));
        pixels.regionAreas.push_back(detail::SpanArea(pixels.regions.back()));
        pixels.regionBounds.push_back(BoundsOf(pixels.regions.back()));
        const int label = static_cast<int>(
            std::lower_bound(ids.begin(), ids.end(), frame.categoryIds[i]) - ids.begin() + 1);
        pixels.labels.push_back(label);
        pixels.present[static_cast<std::size_t>(label)] = true;
    }
    pixels.mask = detail::PaintedSpans(pixels.regions, pixels.labels);
    pixels.labelAreas.assign(ids.size() + 1, 0);
    for (const LabeledSpan& span : pixels.mask) {
        pixels.labelAreas[static_cast<std::size_t>(span.label)] +=
            static_cast<std::uint64_t>(span.end - span.begin);
    }
    return pixels;
}

// Matches b's regions of `label` to a's one to one, highest IoU first, and counts them.
void MatchRegions(const RaterPixels& a, const RaterPixels& b, int label, AgreementCounts& counts) {
    struct Candidate {
        double iou;
        std::size_t i;
        std::size_t j;
    };
    std::vector<Candidate> candidates;
    for (std::size_t i = 0; i < a.labels.size(); ++i) {
        if (a.labels[i] != label) continue;
        ++counts.regionsA;
        for (std::size_t j = 0; j < b.labels.size(); ++j) {
            if (b.labels[j] != label || !BoundsMeet(a.regionBounds[i], b.regionBounds[j])) {
                continue;
            }
            const std::uint64_t common = detail::SpanIntersection(a.regions[i], b.regions[j]);
            const std::uint64_t either = a.regionAreas[i] + b.regionAreas[j] - common;
            const double iou = either == 0 ? 0 : static_cast<double>(common) / either;
            if (iou >= kMatchingIou) candidates.push_back({iou, i, j});
        }
    }
    for (int region : b.labels) counts.regionsB += region == label ? 1 : 0;
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& x, const Candidate& y) { return x.iou > y.iou; });
    std::vector<bool> usedA(a.labels.size()), usedB(b.labels.size());
    for (const Candidate& candidate : candidates) {
        if (usedA[candidate.i] || usedB[candidate.j]) continue;
        usedA[candidate.i] = usedB[candidate.j] = true;
        ++counts.matches;
        counts.matchedIouSum += candidate.iou;
    }
}

// Adds the frame's own Dice and IoU when either rater drew.
void CountFrameOverlap(AgreementCounts& counts) {
    const std::uint64_t areas = counts.areaA + counts.areaB;
    if (areas == 0) return;
    counts.diceSum = 2.0 * counts.intersection / areas;
    counts.iouSum = static_cast<double>(counts.intersection) / (areas - counts.intersection);
    counts.drawnFrames = 1;
}

// The frame's counts over all categories, its overlap pooled over them.
AgreementCounts FrameTotal(const std::map<int, AgreementCounts>& byCategory) {
    AgreementCounts total;
    for (const auto& entry : byCategory) total.Add(entry.second);
    total.diceSum = total.iouSum = 0;
    total.drawnFrames = 0;
    CountFrameOverlap(total);
    return total;
}

struct Sweep {
    std::vector<std::vector<std::uint64_t>> common;                // per pair, by label
    std::vector<std::map<std::uint64_t, std::uint64_t>> patterns;  // by label, with STAPLE
};

std::size_t PairCount(std::size_t raters) { return raters * (raters - 1) / 2; }

// The label most raters gave; a tie for the most goes to the background.
int MajorityLabel(const int* labels, std::size_t raters, std::vector<int>& votes) {
    std::fill(votes.begin(), votes.end(), 0);
    for (std::size_t r = 0; r < raters; ++r) ++votes[static_cast<std::size_t>(labels[r])];
    int best = 0;
    bool tie = false;
    for (std::size_t label = 1; label < votes.size(); ++label) {
        if (votes[label] > votes[static_cast<std::size_t>(best)]) {
            best = static_cast<int>(label);
            tie = false;
        } else if (votes[label] == votes[static_cast<std::size_t>(best)]) {
            tie = true;
        }
    }
    return tie ? 0 : best;
}

std::uint64_t PatternOf(const int* labels, std::size_t raters, int label) {
    std::uint64_t pattern = 0;
    for (std::size_t r = 0; r < raters; ++r) {
        if (labels[r] == label) pattern |= std::uint64_t{1} << r;
    }
    return pattern;
}

void Fill(MaskImage& image, int y, int begin, int end, std::uint16_t value) {
    image.Fill(PixelSpan{y, begin, end}, value);
}

}  // namespace

void AgreementCounts::Add(const AgreementCounts& other) {
    intersection += other.intersection;
    areaA += other.areaA;
    areaB += other.areaB;
    diceSum += other.diceSum;
    iouSum += other.iouSum;
    drawnFrames += other.drawnFrames;
    regionsA += other.regionsA;
    regionsB += other.regionsB;
    matches += other.matches;
    matchedIouSum += other.matchedIouSum;
    presentBoth += other.presentBoth;
    presentAOnly += other.presentAOnly;
    presentBOnly += other.presentBOnly;
}

AgreementMeasures AgreementCounts::Measures(std::uint64_t presenceCases) const {
    AgreementMeasures m;
    const double areas = static_cast<double>(areaA + areaB);
    m.dice = Ratio(2.0 * intersection, areas);
    m.iou = Ratio(static_cast<double>(intersection), areas - intersection);
    m.diceMean = Ratio(diceSum, static_cast<double>(drawnFrames));
    m.iouMean = Ratio(iouSum, static_cast<double>(drawnFrames));
    m.precision = Ratio(static_cast<double>(matches), static_cast<double>(regionsB));
    m.recall = Ratio(static_cast<double>(matches), static_cast<double>(regionsA));
    m.f1 = Ratio(2.0 * matches, static_cast<double>(regionsA + regionsB));
    m.matchedIou = Ratio(matchedIouSum, static_cast<double>(matches));
    const std::uint64_t marked = presentBoth + presentAOnly + presentBOnly;
    m.kappa = CohenKappa(presentBoth, presentAOnly, presentBOnly,
                         presenceCases > marked ? presenceCases - marked : 0);
    return m;
}

struct AgreementStudy::State {
    struct PairTotals {
        AgreementCounts overall;
        std::map<int, AgreementCounts> perCategory;
        std::map<std::string, AgreementCounts> perFolder;
    };
    AgreementOptions options;
    std::vector<PairTotals> pairs;
    std::uint64_t frames = 0;
    std::map<std::string, std::uint64_t> folderFrames;
    std::vector<std::string> unmatched;
    std::map<int, std::vector<std::uint64_t>> framesByVotes;  // by category id
    std::map<int, std::map<std::uint64_t, std::uint64_t>> patterns;
    std::vector<DisagreementFrame> lowest;
};

AgreementStudy::AgreementStudy(AgreementOptions options) : state_(std::make_unique<State>()) {
    if (options.raters.size() < 2) throw std::invalid_argument("agreement needs two raters");
    state_->pairs.resize(PairCount(options.raters.size()));
    state_->options = std::move(options);
}

AgreementStudy::~AgreementStudy() = default;

FrameComparison AgreementStudy::Compare(const std::vector<const DatasetFrame*>& frames,
                                        int largestCategoryId) const {
    const std::size_t raters = state_->options.raters.size();
    if (frames.size() != raters) throw std::invalid_argument("one frame per rater is needed");
    const Frame& first = frames.front()->frame;
    for (const DatasetFrame* frame : frames) {
        if (frame->frame.width != first.width || frame->frame.height != first.height) {
            throw std::invalid_argument("the raters' frames differ in size");
        }
    }
    std::vector<int> ids;
    for (const DatasetFrame* frame : frames) {
        ids.insert(ids.end(), frame->categoryIds.begin(), frame->categoryIds.end());
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::vector<RaterPixels> pixels;
    std::vector<std::vector<LabeledSpan>> masks;
    for (const DatasetFrame* frame : frames) {
        pixels.push_back(PixelsOf(*frame, ids));
        masks.push_back(std::move(pixels.back().mask));  // the sweeps' own from here on
    }

    FrameComparison result;
    result.pixels = static_cast<std::uint64_t>(std::max(first.width, 0)) *
                    static_cast<std::uint64_t>(std::max(first.height, 0));
    const ConsensusMethod method = state_->options.consensus;
    std::optional<MaskImage>& consensus = result.consensus;
    if (method != ConsensusMethod::None) {
        consensus.emplace(first.width, first.height, largestCategoryId > 255 ? 16 : 8);
    }
    const std::size_t labels = ids.size() + 1;
    std::vector<std::vector<std::uint64_t>> common(PairCount(raters),
                                                   std::vector<std::uint64_t>(labels, 0));
    std::vector<std::map<std::uint64_t, std::uint64_t>> patterns(labels);
    std::vector<int> votes(labels);
    detail::SweepMasks(masks, [&](int y, int begin, int end, const int* given) {
        const std::uint64_t length = static_cast<std::uint64_t>(end - begin);
        std::size_t pair = 0;
        for (std::size_t a = 0; a < raters; ++a) {
            for (std::size_t b = a + 1; b < raters; ++b, ++pair) {
                if (given[a] != 0 && given[a] == given[b]) {
                    common[pair][static_cast<std::size_t>(given[a])] += length;
                }
            }
        }
        if (method == ConsensusMethod::Majority) {
            const int label = MajorityLabel(given, raters, votes);
            if (label != 0) {
                Fill(*consensus, y, begin, end,
                     static_cast<std::uint16_t>(ids[static_cast<std::size_t>(label - 1)]));
            }
        } else if (method == ConsensusMethod::Staple) {
            for (std::size_t r = 0; r < raters; ++r) {
                const int label = given[r];
                if (label == 0 || std::find(given, given + r, label) != given + r) continue;
                patterns[static_cast<std::size_t>(label)][PatternOf(given, raters, label)] +=
                    length;
            }
        }
    });

    // Pairs: overlap, region matching and presence by category.
    std::size_t pair = 0;
    double scoreSum = 0;
    for (std::size_t a = 0; a < raters; ++a) {
        for (std::size_t b = a + 1; b < raters; ++b, ++pair) {
            std::map<int, AgreementCounts> byCategory;
            for (std::size_t label = 1; label < labels; ++label) {
                AgreementCounts& counts = byCategory[ids[label - 1]];
                counts.intersection = common[pair][label];
                counts.areaA = pixels[a].labelAreas[label];
                counts.areaB = pixels[b].labelAreas[label];
                CountFrameOverlap(counts);
                MatchRegions(pixels[a], pixels[b], static_cast<int>(label), counts);
                const bool inA = pixels[a].present[label], inB = pixels[b].present[label];
                counts.presentBoth = inA && inB;
                counts.presentAOnly = inA && !inB;
                counts.presentBOnly = !inA && inB;
            }
            const AgreementCounts total = FrameTotal(byCategory);
            scoreSum += total.drawnFrames == 0 ? 1.0 : total.diceSum;
            result.pairs.push_back(std::move(byCategory));
        }
    }
    result.score = scoreSum / static_cast<double>(result.pairs.size());
    for (std::size_t label = 1; label < labels; ++label) {
        int count = 0;
        for (const RaterPixels& rater : pixels) count += rater.present[label] ? 1 : 0;
        result.presenceVotes[ids[label - 1]] = count;
    }

    if (method == ConsensusMethod::Staple) {
        // Each category alone; a pixel goes to the category most probably there, if any is.
        std::vector<StapleFit> fits(labels);
        for (std::size_t label = 1; label < labels; ++label) {
            std::uint64_t marked = 0;
            for (const auto& entry : patterns[label]) marked += entry.second;
            patterns[label][0] = result.pixels - marked;
            fits[label] = FitStaple(patterns[label], static_cast<int>(raters));
            result.patterns[ids[label - 1]] = patterns[label];
        }
        const auto best = [&](const int* given) {
            double most = 0.5;
            int chosen = 0;
            for (std::size_t label = 1; label < labels; ++label) {
                const std::uint64_t pattern =
                    given ? PatternOf(given, raters, static_cast<int>(label)) : 0;
                const double posterior = fits[label].posterior[pattern];
                if (posterior >= most && (chosen == 0 || posterior > most)) {
                    most = posterior;
                    chosen = ids[label - 1];
                }
            }
            return static_cast<std::uint16_t>(chosen);
        };
        // Where nobody drew, every pixel has the same pattern: paint it all at once.
        if (const std::uint16_t everywhere = best(nullptr); everywhere != 0) {
            for (int y = 0; y < first.height; ++y) Fill(*consensus, y, 0, first.width, everywhere);
        }
        detail::SweepMasks(masks, [&](int y, int begin, int end, const int* given) {
            Fill(*consensus, y, begin, end, best(given));
        });
    }
    return result;
}

void AgreementStudy::Add(FrameComparison comparison,
                         const std::vector<const DatasetFrame*>& frames) {
    State& state = *state_;
    ++state.frames;
    ++state.folderFrames[comparison.folder];
    for (std::size_t pair = 0; pair < comparison.pairs.size(); ++pair) {
        State::PairTotals& totals = state.pairs[pair];
        for (const auto& [id, counts] : comparison.pairs[pair]) {
            totals.perCategory[id].Add(counts);
        }
        const AgreementCounts total = FrameTotal(comparison.pairs[pair]);
        totals.overall.Add(total);
        totals.perFolder[comparison.folder].Add(total);
    }
    const std::size_t raters = state.options.raters.size();
    for (const auto& [id, votes] : comparison.presenceVotes) {
        std::vector<std::uint64_t>& histogram = state.framesByVotes[id];
        histogram.resize(raters + 1);
        ++histogram[static_cast<std::size_t>(votes)];
    }
    for (const auto& [id, counts] : comparison.patterns) {
        for (const auto& [pattern, count] : counts) state.patterns[id][pattern] += count;
    }
    std::vector<DisagreementFrame>& lowest = state.lowest;
    const std::size_t keep = state.options.lowestFrames;
    if (keep == 0 || comparison.score >= 1 ||
        (lowest.size() == keep && comparison.score >= lowest.back().score)) {
        return;
    }
    DisagreementFrame kept{comparison.path, comparison.score, {}};
    for (const DatasetFrame* frame : frames) kept.frames.push_back(frame->frame);
    const auto place = std::upper_bound(
        lowest.begin(), lowest.end(), kept.score,
        [](double score, const DisagreementFrame& other) { return score < other.score; });
    lowest.insert(place, std::move(kept));
    if (lowest.size() > keep) lowest.pop_back();
}

void AgreementStudy::AddUnmatched(std::string path) {
    state_->unmatched.push_back(std::move(path));
}

namespace {

std::optional<double> MeanOf(const std::vector<std::optional<double>>& values) {
    double sum = 0;
    std::size_t count = 0;
    for (const std::optional<double>& value : values) {
        if (value) {
            sum += *value;
            ++count;
        }
    }
    return Ratio(sum, static_cast<double>(count));
}

AgreementMeasures MeanMeasures(const std::vector<const AgreementMeasures*>& all) {
    const auto mean = [&all](std::optional<double> AgreementMeasures::*field) {
        std::vector<std::optional<double>> values;
        for (const AgreementMeasures* measures : all) values.push_back(measures->*field);
        return MeanOf(values);
    };
    AgreementMeasures m;
    for (auto field :
         {&AgreementMeasures::dice, &AgreementMeasures::iou, &AgreementMeasures::diceMean,
          &AgreementMeasures::iouMean, &AgreementMeasures::precision, &AgreementMeasures::recall,
          &AgreementMeasures::f1, &AgreementMeasures::matchedIou, &AgreementMeasures::kappa}) {
        m.*field = mean(field);
    }
    return m;
}

PairAgreement MeanOfPairs(const std::vector<PairAgreement>& pairs) {
    PairAgreement mean{0, 0, {}, {}, {}};
    std::vector<const AgreementMeasures*> overall;
    std::map<std::string, std::vector<const AgreementMeasures*>> categories, folders;
    for (const PairAgreement& pair : pairs) {
        overall.push_back(&pair.overall);
        for (const auto& [name, m] : pair.perCategory) categories[name].push_back(&m);
        for (const auto& [name, m] : pair.perFolder) folders[name].push_back(&m);
    }
    mean.overall = MeanMeasures(overall);
    for (const auto& [name, all] : categories) mean.perCategory[name] = MeanMeasures(all);
    for (const auto& [name, all] : folders) mean.perFolder[name] = MeanMeasures(all);
    return mean;
}

std::optional<double> Finite(double value) {
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

}  // namespace

AgreementReport AgreementStudy::Finish(const std::vector<Category>& categories) const {
    const State& state = *state_;
    AgreementReport report;
    report.raters = state.options.raters;
    report.frames = static_cast<std::size_t>(state.frames);
    report.unmatchedFrames = state.unmatched;
    report.consensus = state.options.consensus;
    report.lowest = state.lowest;
    const std::uint64_t categoryCount = categories.size();
    const std::size_t raters = report.raters.size();
    std::size_t pair = 0;
    for (std::size_t a = 0; a < raters; ++a) {
        for (std::size_t b = a + 1; b < raters; ++b, ++pair) {
            const State::PairTotals& totals = state.pairs[pair];
            PairAgreement result{
                a, b, totals.overall.Measures(state.frames * categoryCount), {}, {}};
            for (const Category& category : categories) {
                const auto found = totals.perCategory.find(category.id);
                result.perCategory[category.name] =
                    (found == totals.perCategory.end() ? AgreementCounts{} : found->second)
                        .Measures(state.frames);
            }
            for (const auto& [folder, counts] : totals.perFolder) {
                result.perFolder[folder.empty() ? "." : folder] =
                    counts.Measures(state.folderFrames.at(folder) * categoryCount);
            }
            report.pairs.push_back(std::move(result));
        }
    }
    if (raters >= 3) {
        report.meanOfPairs = MeanOfPairs(report.pairs);
        for (const Category& category : categories) {
            std::vector<std::uint64_t> histogram(raters + 1, 0);
            const auto found = state.framesByVotes.find(category.id);
            if (found != state.framesByVotes.end()) histogram = found->second;
            std::uint64_t marked = 0;
            for (std::size_t votes = 1; votes <= raters; ++votes) marked += histogram[votes];
            histogram[0] = state.frames - marked;
            report.fleissKappa[category.name] = detail::FleissKappaOf(histogram);
        }
    }
    if (state.options.consensus == ConsensusMethod::Staple) {
        for (const Category& category : categories) {
            std::vector<RaterEstimate>& estimates = report.staple[category.name];
            estimates.resize(raters);
            const auto found = state.patterns.find(category.id);
            if (found == state.patterns.end()) continue;
            const StapleFit fit = FitStaple(found->second, static_cast<int>(raters));
            if (!(fit.prior > 0 && fit.prior < 1)) continue;
            for (std::size_t r = 0; r < raters; ++r) {
                estimates[r] = {Finite(fit.sensitivity[r]), Finite(fit.specificity[r])};
            }
        }
    }
    return report;
}

}  // namespace annoxml
