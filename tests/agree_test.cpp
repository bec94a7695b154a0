// Agreement between raters: hand-computed cases, and the span arithmetic against rendered masks.
#include <optional>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "annoxml/agree.h"
#include "frame_fixture.h"
#include "util/text_columns.h"

using annoxml::AgreementOptions;
using annoxml::AgreementReport;
using annoxml::AgreementStudy;
using annoxml::ConsensusMethod;
using annoxml::DatasetFrame;
using annoxml::FrameComparison;
using annoxml::MaskImage;
using annoxml::Region;
using annoxml::test::MakeBox;
using annoxml::test::MakeFrame;

namespace {

constexpr double kTight = 1e-9;

// One rater's frame: regions with their category ids, painted in this order.
DatasetFrame Drawn(const std::vector<std::pair<int, Region>>& regions, int width = 40,
                   int height = 20) {
    DatasetFrame drawn;
    drawn.frame = MakeFrame("frame", width, height);
    drawn.fileName = "frame";
    for (const auto& [id, region] : regions) {
        drawn.frame.regions.push_back(region);
        drawn.categoryIds.push_back(id);
    }
    return drawn;
}

const std::vector<annoxml::Category> kCategories = {{1, "polyp", "", ""}, {2, "bleeding", "", ""}};

struct Study {
    explicit Study(std::size_t raters, ConsensusMethod method = ConsensusMethod::None)
        : study([&] {
              AgreementOptions options;
              for (std::size_t r = 0; r < raters; ++r)
                  options.raters.push_back("r" + std::to_string(r));
              options.consensus = method;
              return options;
          }()) {}

    // Compares and adds one frame; returns its consensus mask when asked for one.
    std::optional<MaskImage> Add(const std::vector<DatasetFrame>& raters) {
        std::vector<const DatasetFrame*> pointers;
        for (const DatasetFrame& frame : raters) pointers.push_back(&frame);
        FrameComparison comparison = study.Compare(pointers, 2);
        std::optional<MaskImage> consensus = std::move(comparison.consensus);
        study.Add(std::move(comparison), pointers);
        return consensus;
    }

    AgreementReport Finish() { return study.Finish(kCategories); }

    AgreementStudy study;
};

std::vector<int> Pixels(const MaskImage& image) {
    std::vector<int> pixels;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) pixels.push_back(image.at(x, y));
    }
    return pixels;
}

// The category mask as `masks --mode category` paints it.
MaskImage Rendered(const DatasetFrame& frame) {
    annoxml::MaskRequest request;
    request.mode = annoxml::MaskMode::Category;
    request.categoryIds = frame.categoryIds;
    request.largestCategoryId = 2;
    return annoxml::RenderMask(frame.frame, request);
}

TEST(AgreeTest, IdenticalRatersAgreeCompletelyAndTheirConsensusIsTheirMask) {
    // Two frames; the bleeding box is partly painted over by a later polyp box.
    const std::vector<DatasetFrame> frames = {
        Drawn(
            {{2, MakeBox("1", "bleeding", 2, 2, 10, 8)}, {1, MakeBox("2", "polyp", 8, 4, 12, 10)}}),
        Drawn({{1, MakeBox("1", "polyp", 20, 5, 6, 6)}}),
    };
    for (const ConsensusMethod method : {ConsensusMethod::Majority, ConsensusMethod::Staple}) {
        Study study(3, method);
        for (const DatasetFrame& frame : frames) {
            const std::optional<MaskImage> consensus = study.Add({frame, frame, frame});
            ASSERT_TRUE(consensus);
            EXPECT_EQ(Pixels(*consensus), Pixels(Rendered(frame)));
        }
        const AgreementReport report = study.Finish();
        ASSERT_EQ(report.pairs.size(), 3u);
        for (const auto& pair : report.pairs) {
            for (const auto* m :
                 {&pair.overall, &pair.perCategory.at("polyp"), &pair.perCategory.at("bleeding")}) {
                for (const auto& value : {m->dice, m->iou, m->diceMean, m->iouMean, m->precision,
                                          m->recall, m->f1, m->matchedIou, m->kappa}) {
                    ASSERT_TRUE(value);
                    EXPECT_DOUBLE_EQ(*value, 1.0);
                }
            }
        }
        EXPECT_DOUBLE_EQ(*report.fleissKappa.at("bleeding"), 1.0);
        EXPECT_DOUBLE_EQ(*report.fleissKappa.at("polyp"), 1.0);
        if (method == ConsensusMethod::Staple) {
            for (const auto& estimate : report.staple.at("polyp")) {
                EXPECT_NEAR(*estimate.sensitivity, 1, 1e-6);
                EXPECT_NEAR(*estimate.specificity, 1, 1e-6);
            }
        }
    }
}

TEST(AgreeTest, ShiftedRegionsGiveTheOverlapComputedByHand) {
    struct Case {
        double shift;
        double dice;
        double iou;
        double recall;
    };
    // 10 x 10 boxes: shifted by 2 they share 80 pixels (Dice 160/200, IoU 80/120) and match;
    // shifted by 5 they share 50 (Dice 100/200, IoU 50/150), below the matching IoU of 0.5.
    for (const Case& c : {Case{2, 0.8, 2.0 / 3, 1}, Case{5, 0.5, 1.0 / 3, 0}}) {
        Study study(2);
        study.Add({Drawn({{1, MakeBox("1", "polyp", 4, 4, 10, 10)}}),
                   Drawn({{1, MakeBox("1", "polyp", 4 + c.shift, 4, 10, 10)}})});
        const AgreementReport report = study.Finish();
        const auto& m = report.pairs.at(0).perCategory.at("polyp");
        EXPECT_NEAR(*m.dice, c.dice, kTight);
        EXPECT_NEAR(*m.iou, c.iou, kTight);
        EXPECT_NEAR(*m.diceMean, c.dice, kTight);
        EXPECT_NEAR(*m.recall, c.recall, kTight);
        EXPECT_NEAR(*m.precision, c.recall, kTight);
        EXPECT_EQ(m.matchedIou.has_value(), c.recall > 0);
        if (m.matchedIou) {
            EXPECT_NEAR(*m.matchedIou, c.iou, kTight);
        }
        // bleeding is in no frame: undefined, not zero
        const auto& none = report.pairs.at(0).perCategory.at("bleeding");
        EXPECT_FALSE(none.dice || none.diceMean || none.recall || none.kappa);
    }
}

TEST(AgreeTest, AMissedRegionLowersRecallByItsShare) {
    std::vector<std::pair<int, Region>> all;
    for (int i = 0; i < 4; ++i)
        all.push_back({1, MakeBox(std::to_string(i), "polyp", 1 + 9 * i, 2, 6, 6)});
    std::vector<std::pair<int, Region>> missing(all.begin(), all.end() - 1);
    Study study(2);
    study.Add({Drawn(all), Drawn(missing)});
    const AgreementReport report = study.Finish();
    const auto& m = report.pairs[0].overall;
    EXPECT_NEAR(*m.recall, 3.0 / 4, kTight);
    EXPECT_NEAR(*m.precision, 1, kTight);
    EXPECT_NEAR(*m.f1, 6.0 / 7, kTight);
    EXPECT_NEAR(*m.matchedIou, 1, kTight);
    EXPECT_NEAR(*m.dice, 2.0 * 108 / (144 + 108), kTight);
}

TEST(AgreeTest, CohensKappaMatchesAHandComputation) {
    // 50 frames: polyp in both 20, in a only 5, in b only 10, in neither 15.
    // observed 35/50 = 0.7; chance 0.5 * 0.6 + 0.5 * 0.4 = 0.5; kappa (0.7 - 0.5) / 0.5 = 0.4.
    EXPECT_NEAR(*annoxml::CohenKappa(20, 5, 10, 15), 0.4, kTight);
    Study study(2);
    const DatasetFrame polyp = Drawn({{1, MakeBox("1", "polyp", 2, 2, 5, 5)}}), empty = Drawn({});
    const std::pair<int, std::pair<const DatasetFrame*, const DatasetFrame*>> table[] = {
        {20, {&polyp, &polyp}},
        {5, {&polyp, &empty}},
        {10, {&empty, &polyp}},
        {15, {&empty, &empty}}};
    for (const auto& [count, raters] : table) {
        for (int i = 0; i < count; ++i) study.Add({*raters.first, *raters.second});
    }
    const AgreementReport report = study.Finish();
    EXPECT_EQ(report.frames, 50u);
    EXPECT_NEAR(*report.pairs[0].perCategory.at("polyp").kappa, 0.4, kTight);
    // Overall, bleeding adds 50 cases that neither marked: observed 85/100, a 25/100, b 30/100,
    // chance 0.25 * 0.3 + 0.75 * 0.7 = 0.6, kappa 0.25 / 0.4.
    EXPECT_NEAR(*report.pairs[0].overall.kappa, 0.625, kTight);
    EXPECT_FALSE(annoxml::CohenKappa(0, 0, 0, 7));
    EXPECT_DOUBLE_EQ(*annoxml::CohenKappa(7, 0, 0, 0), 1.0);
}

TEST(AgreeTest, FleissKappaMatchesAHandComputation) {
    // Three raters, four cases with 3, 0, 2 and 1 yes votes: agreement per case 1, 1, 1/3, 1/3,
    // mean 2/3; yes share 6/12, chance 1/2; kappa (2/3 - 1/2) / (1/2) = 1/3.
    EXPECT_NEAR(*annoxml::FleissKappa({3, 0, 2, 1}, 3), 1.0 / 3, kTight);
    EXPECT_DOUBLE_EQ(*annoxml::FleissKappa({3, 3}, 3), 1.0);
    EXPECT_FALSE(annoxml::FleissKappa({0, 0}, 3));
    Study study(3);
    const DatasetFrame polyp = Drawn({{1, MakeBox("1", "polyp", 2, 2, 5, 5)}}), empty = Drawn({});
    study.Add({polyp, polyp, polyp});
    study.Add({empty, empty, empty});
    study.Add({polyp, empty, polyp});
    study.Add({empty, polyp, empty});
    EXPECT_NEAR(*study.Finish().fleissKappa.at("polyp"), 1.0 / 3, kTight);
}

TEST(AgreeTest, MajorityTakesTheMostVotesAndGivesTiesToTheBackground) {
    // One row of 6 pixels. a: polyp 0-3, b: polyp 2-5, c: bleeding 1-2.
    Study study(3, ConsensusMethod::Majority);
    const std::optional<MaskImage> consensus =
        study.Add({Drawn({{1, MakeBox("1", "polyp", 0, 0, 4, 1)}}, 6, 1),
                   Drawn({{1, MakeBox("1", "polyp", 2, 0, 4, 1)}}, 6, 1),
                   Drawn({{2, MakeBox("1", "bleeding", 1, 0, 2, 1)}}, 6, 1)});
    EXPECT_EQ(Pixels(*consensus), (std::vector<int>{0, 0, 1, 1, 0, 0}));
}

TEST(AgreeTest, StapleFindsTheRaterWhoMarksTooMuch) {
    // Three raters draw the same box; the fourth draws it and a second box where nothing is.
    const Region box = MakeBox("1", "polyp", 4, 4, 8, 8);
    Study study(4, ConsensusMethod::Staple);
    const std::optional<MaskImage> consensus =
        study.Add({Drawn({{1, box}}), Drawn({{1, box}}), Drawn({{1, box}}),
                   Drawn({{1, box}, {1, MakeBox("2", "polyp", 24, 4, 6, 6)}})});
    EXPECT_EQ(Pixels(*consensus), Pixels(Rendered(Drawn({{1, box}}))));
    const AgreementReport report = study.Finish();
    const auto& estimates = report.staple.at("polyp");
    for (int r = 0; r < 3; ++r) {
        EXPECT_NEAR(*estimates[r].sensitivity, 1, 1e-6);
        EXPECT_LT(*estimates[3].specificity, *estimates[r].specificity);
    }
    // 36 extra pixels out of the 800 - 64 background: specificity 1 - 36 / 736.
    EXPECT_NEAR(*estimates[3].specificity, 1 - 36.0 / 736, 1e-6);
    EXPECT_NEAR(*estimates[3].sensitivity, 1, 1e-6);
}

TEST(AgreeTest, StapleOfIdenticalRatersFromPatternCounts) {
    const annoxml::StapleFit fit = annoxml::FitStaple({{0, 300}, {0b111, 100}}, 3);
    EXPECT_NEAR(fit.prior, 0.25, kTight);
    for (int r = 0; r < 3; ++r) {
        EXPECT_NEAR(fit.sensitivity[r], 1, 1e-9);
        EXPECT_NEAR(fit.specificity[r], 1, 1e-9);
    }
    EXPECT_GT(fit.posterior.at(0b111), 0.999);
    EXPECT_LT(fit.posterior.at(0), 0.001);
}

// The span arithmetic against whole rendered masks, on random overlapping polygons.
TEST(AgreeTest, PooledOverlapMatchesRenderedMasks) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> coordinate(-5, 65);
    std::uniform_int_distribution<int> category(1, 2);
    const auto randomFrame = [&] {
        std::vector<std::pair<int, Region>> regions;
        for (int i = 0; i < 4; ++i) {
            std::vector<annoxml::Point> outline;
            for (int p = 0; p < 5; ++p)
                outline.push_back({coordinate(random), coordinate(random) / 2});
            const int id = category(random);
            regions.push_back(
                {id, annoxml::test::MakeRegion(annoxml::ShapeKind::Polygon, std::to_string(i),
                                               id == 1 ? "polyp" : "bleeding", outline)});
        }
        return Drawn(regions, 60, 30);
    };
    for (int trial = 0; trial < 20; ++trial) {
        const DatasetFrame a = randomFrame(), b = randomFrame();
        Study study(2);
        study.Add({a, b});
        const AgreementReport report = study.Finish();
        const std::vector<int> pa = Pixels(Rendered(a)), pb = Pixels(Rendered(b));
        for (int id : {1, 2}) {
            double common = 0, areas = 0;
            for (std::size_t i = 0; i < pa.size(); ++i) {
                common += pa[i] == id && pb[i] == id;
                areas += (pa[i] == id) + (pb[i] == id);
            }
            const auto& m = report.pairs[0].perCategory.at(id == 1 ? "polyp" : "bleeding");
            ASSERT_EQ(m.dice.has_value(), areas > 0);
            if (areas > 0) {
                EXPECT_NEAR(*m.dice, 2 * common / areas, kTight) << trial;
            }
        }
    }
}

TEST(AgreeTest, FramesOfDifferentSizesAreNotCompared) {
    Study study(2);
    const DatasetFrame small = Drawn({}, 10, 10), large = Drawn({}, 20, 10);
    EXPECT_THROW(study.study.Compare({&small, &large}, 2), std::invalid_argument);
}

// The table's columns line up whatever letters the row names hold: widths count characters.
TEST(AgreementTable, ColumnsLineUpUnderNamesWithLettersBeyondAscii) {
    annoxml::PairAgreement pair;
    pair.overall.dice = 0.5;
    for (const char* name : {"Œdème", "polyp", "ulcère de Dieulafoy"}) {
        pair.perCategory[name].dice = 0.25;
    }
    AgreementReport report;
    report.raters = {"a", "b"};
    report.pairs = {pair};
    const std::string table = annoxml::AgreementTable(report);

    std::size_t rows = 0;
    std::optional<std::size_t> diceEnd;  // in characters, where each row's "dice" value ends
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t found = line.find("0.");
        if (line.rfind("  ", 0) != 0 || found == std::string::npos) continue;
        const std::size_t end = annoxml::detail::Characters(line.substr(0, found + 5));
        if (!diceEnd) diceEnd = end;
        EXPECT_EQ(end, *diceEnd) << line;
        ++rows;
    }
    EXPECT_EQ(rows, 4u) << table;
}

}  // namespace
