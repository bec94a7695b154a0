// The COCO evaluation on cases small enough to compute by hand, the per-frame numbers, and the
// results file's errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "annoxml/eval.h"

namespace annoxml {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr int kAP = 0, kAP50 = 1, kAP75 = 2, kAPs = 3, kAPm = 4, kAPl = 5, kAR1 = 6, kAR10 = 7,
              kAR100 = 8, kARs = 9, kARm = 10, kARl = 11;

struct Object {
    int image;
    std::vector<double> box;
    bool crowd = false;
    int category = 1;
};

struct Prediction {
    int image;
    std::vector<double> box;
    double score;
    int category = 1;
};

class EvalFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("annoxml_eval_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const json& value) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path) << value.dump();
        return path;
    }
    std::string WriteText(const std::string& name, const std::string& text) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path) << text;
        return path;
    }

    // Images 1..images of 400x400, categories 1 and 2; boxes as polygons too.
    GroundTruth Truth(int images, const std::vector<Object>& objects, MaskNeeds needs = {}) {
        json doc = {
            {"images", json::array()},
            {"annotations", json::array()},
            {"categories", {{{"id", 1}, {"name", "polyp"}}, {{"id", 2}, {"name", "ulcer"}}}}};
        for (int i = 1; i <= images; ++i) {
            doc["images"].push_back({{"id", i},
                                     {"width", 400},
                                     {"height", 400},
                                     {"file_name", "video-" + std::to_string(i % 2) + "/f.png"}});
        }
        int id = 0;
        for (const Object& o : objects) {
            const auto& b = o.box;
            doc["annotations"].push_back(
                {{"id", ++id},
                 {"image_id", o.image},
                 {"category_id", o.category},
                 {"bbox", b},
                 {"area", b[2] * b[3]},
                 {"iscrowd", o.crowd ? 1 : 0},
                 {"segmentation",
                  {{b[0], b[1], b[0] + b[2], b[1], b[0] + b[2], b[1] + b[3], b[0], b[1] + b[3]}}}});
        }
        return GroundTruth::LoadCoco(Write("truth.json", doc), needs);
    }

    Detections Results(const GroundTruth& truth, const std::vector<Prediction>& predictions,
                       MaskNeeds needs = {}) {
        json doc = json::array();
        for (const Prediction& p : predictions) {
            doc.push_back({{"image_id", p.image},
                           {"category_id", p.category},
                           {"bbox", p.box},
                           {"score", p.score}});
        }
        return LoadDetections(Write("results.json", doc), truth, needs);
    }

    CocoScores Score(int images, const std::vector<Object>& objects,
                     const std::vector<Prediction>& predictions) {
        const GroundTruth truth = Truth(images, objects);
        return EvaluateCoco(truth, Results(truth, predictions), IouType::Bbox);
    }

    fs::path dir_;
};

// Medium boxes (50 x 50) at distinct places.
std::vector<double> Medium(int i) { return {10.0 + 60 * i, 10, 50, 50}; }

TEST_F(EvalFiles, PerfectPredictionsScoreOneEverywhere) {
    // One object an image so that AR1 can reach 1; one small, one medium, one large.
    const std::vector<Object> objects = {
        {1, {5, 5, 10, 10}}, {2, {20, 20, 50, 50}}, {3, {30, 30, 200, 200}}};
    std::vector<Prediction> predictions;
    for (const Object& o : objects) predictions.push_back({o.image, o.box, 0.9});
    const CocoScores scores = Score(3, objects, predictions);
    for (int i = 0; i < 12; ++i) EXPECT_DOUBLE_EQ(scores.stats[i], 1.0) << SummaryNames()[i];
    EXPECT_DOUBLE_EQ(scores.categoryAp[0], 1.0);
    EXPECT_EQ(scores.categoryAp[1], -1);  // no ulcer at all
}

// Each case: its objects and predictions, all medium and in category 1, and AP and AR100 by hand.
TEST_F(EvalFiles, MissedDuplicatedAndMisplacedDetections) {
    struct Case {
        const char* name;
        std::vector<Object> objects;
        std::vector<Prediction> predictions;
        double ap;
        double ar100;
    };
    const Case cases[] = {
        // Two of three found: precision 1 up to recall 2/3, i.e. at recall points 0 .. 0.66.
        {"missed",
         {{1, Medium(0)}, {1, Medium(1)}, {1, Medium(2)}},
         {{1, Medium(0), 0.9}, {1, Medium(1), 0.8}},
         67.0 / 101,
         2.0 / 3},
        // The duplicate ranks second: precision 1, 1/2, 2/3, 3/4, made 1, 3/4, 3/4, 3/4; recall
        // 1/3 reached at once (points 0 .. 0.33), the rest at 3/4.
        {"duplicated",
         {{1, Medium(0)}, {1, Medium(1)}, {1, Medium(2)}},
         {{1, Medium(0), 0.9}, {1, Medium(0), 0.85}, {1, Medium(1), 0.8}, {1, Medium(2), 0.7}},
         (34 + 67 * 0.75) / 101,
         1},
        // Moved by 5 of 50: IoU 45*50 / (2*2500 - 2250) = 0.818, a match at .50 .. .80 only.
        {"misplaced", {{1, Medium(0)}}, {{1, {15, 10, 50, 50}, 0.9}}, 0.7, 0.7},
        // A prediction of the other category counts for nothing in this one.
        {"other category", {{1, Medium(0)}}, {{1, Medium(0), 0.9, 2}}, 0, 0},
    };
    for (const Case& c : cases) {
        const CocoScores scores = Score(1, c.objects, c.predictions);
        EXPECT_NEAR(scores.stats[kAP], c.ap, 1e-12) << c.name;
        EXPECT_NEAR(scores.categoryAp[0], c.ap, 1e-12) << c.name;
        EXPECT_NEAR(scores.stats[kAR100], c.ar100, 1e-12) << c.name;
    }
}

TEST_F(EvalFiles, CrowdRegionsAbsorbPredictions) {
    const std::vector<Object> objects = {{1, Medium(0)}, {1, {100, 100, 200, 200}, true}};
    // Exact on the object; two more inside the crowd region, which ignores both.
    const CocoScores inside =
        Score(1, objects,
              {{1, Medium(0), 0.5}, {1, {120, 120, 30, 30}, 0.9}, {1, {200, 200, 40, 40}, 0.8}});
    EXPECT_DOUBLE_EQ(inside.stats[kAP], 1.0);
    // Half outside the crowd region: IoU with it is 0.5 of the prediction's own area, so it is
    // ignored at IoU .50 and a false positive above.
    const CocoScores half = Score(1, objects, {{1, Medium(0), 0.5}, {1, {80, 120, 40, 30}, 0.9}});
    EXPECT_NEAR(half.stats[kAP50], 1.0, 1e-12);
    EXPECT_NEAR(half.stats[kAP75], 0.5, 1e-12);
    // Only a crowd region: nothing counts.
    const CocoScores crowdOnly = Score(1, {objects[1]}, {{1, Medium(0), 0.5}});
    EXPECT_EQ(crowdOnly.stats[kAP], -1);
}

TEST_F(EvalFiles, EqualScoresKeepFileAndImageOrder) {
    // Within an image the first in the file is matched first: the misplaced one (IoU .6) takes
    // the object at .50-.60, the exact one above. AP = (3 * 1 + 7 * 0.5) / 10.
    const std::vector<Object> one = {{1, {0, 0, 100, 100}}};
    const Prediction misplaced{1, {25, 0, 100, 100}, 0.5};
    const Prediction exact{1, {0, 0, 100, 100}, 0.5};
    EXPECT_NEAR(Score(1, one, {misplaced, exact}).stats[kAP], 0.65, 1e-12);
    EXPECT_NEAR(Score(1, one, {exact, misplaced}).stats[kAP], 1.0, 1e-12);
    // Across images, image id order: a false positive on image 1 ranks before the hit on image
    // 2 whatever their order in the file; precision 1/2 at recall points 0 .. 0.5.
    const std::vector<Object> two = {{1, Medium(0)}, {2, Medium(0)}};
    const Prediction miss{1, Medium(3), 0.5};
    const Prediction hit{2, Medium(0), 0.5};
    EXPECT_NEAR(Score(2, two, {hit, miss}).stats[kAP], 51 * 0.5 / 101, 1e-12);
    EXPECT_NEAR(Score(2, two, {miss, hit}).stats[kAP], 51 * 0.5 / 101, 1e-12);
}

TEST_F(EvalFiles, AreaRangesIncludeTheirEnds) {
    // 32 x 32 = 1024 is both small and medium; 96 x 96 both medium and large.
    const std::vector<Object> objects = {{1, {0, 0, 32, 32}}, {1, {100, 100, 96, 96}}};
    const CocoScores scores =
        Score(1, objects, {{1, {0, 0, 32, 32}, 0.9}, {1, {100, 100, 96, 96}, 0.8}});
    for (const int i : {kAP, kAPs, kAPm, kAPl, kARs, kARm, kARl}) {
        EXPECT_DOUBLE_EQ(scores.stats[i], 1.0) << SummaryNames()[i];
    }
    // A small false positive does not count against medium objects.
    const CocoScores medium =
        Score(1, {{1, Medium(0)}}, {{1, {300, 300, 10, 10}, 0.9}, {1, Medium(0), 0.8}});
    EXPECT_DOUBLE_EQ(medium.stats[kAPm], 1.0);
    EXPECT_LT(medium.stats[kAP], 1.0);
    EXPECT_EQ(medium.stats[kAPs], -1);
}

TEST_F(EvalFiles, MaxDetsCutEachImage) {
    std::vector<Object> objects;
    std::vector<Prediction> predictions;
    for (int i = 0; i < 12; ++i) {
        objects.push_back({1, {30.0 * (i % 6), 100.0 * (i / 6), 20, 20}});
        predictions.push_back({1, objects.back().box, 1 - i / 100.0});
    }
    const CocoScores scores = Score(1, objects, predictions);
    EXPECT_NEAR(scores.stats[kAR1], 1.0 / 12, 1e-12);
    EXPECT_NEAR(scores.stats[kAR10], 10.0 / 12, 1e-12);
    EXPECT_NEAR(scores.stats[kAR100], 1.0, 1e-12);
    // Only the 100 best of an image are matched: a hit ranked 101st is never seen.
    std::vector<Prediction> many;
    for (int i = 0; i < 100; ++i) many.push_back({1, {300, 300, 20, 20}, 0.9});
    many.push_back({1, Medium(0), 0.1});
    EXPECT_EQ(Score(1, {{1, Medium(0)}}, many).stats[kAR100], 0);
}

TEST_F(EvalFiles, SegmentationsByPolygonAndRle) {
    const MaskNeeds masks{true, false};
    const std::vector<Object> objects = {{1, {10, 10, 50, 50}}, {2, {100, 100, 120, 60}, false, 2}};
    const GroundTruth truth = Truth(2, objects, masks);
    // The first as a polygon, the second as the compressed RLE of its polygon: both exact.
    const Rle second =
        RleFromPolygon(std::vector<double>{100, 100, 220, 100, 220, 160, 100, 160}, 400, 400);
    const json results = {
        {{"image_id", 1},
         {"category_id", 1},
         {"score", 0.9},
         {"segmentation", {{10, 10, 60, 10, 60, 60, 10, 60}}}},
        {{"image_id", 2},
         {"category_id", 2},
         {"score", 0.8},
         {"segmentation", {{"size", {400, 400}}, {"counts", RleToString(second)}}}}};
    const Detections detections = LoadDetections(Write("r.json", results), truth, masks);
    EXPECT_FALSE(detections.areaFromBox);
    const CocoScores scores = EvaluateCoco(truth, detections, IouType::Segm);
    EXPECT_DOUBLE_EQ(scores.stats[kAP], 1.0);
    EXPECT_DOUBLE_EQ(scores.categoryAp[0], 1.0);
    EXPECT_DOUBLE_EQ(scores.categoryAp[1], 1.0);
    // Without segmentation a box is its own polygon.
    EXPECT_DOUBLE_EQ(
        EvaluateCoco(
            truth,
            Results(truth, {{1, {10, 10, 50, 50}, 0.9}, {2, {100, 100, 120, 60}, 0.9, 2}}, masks),
            IouType::Segm)
            .stats[kAP],
        1.0);
}

TEST_F(EvalFiles, FrameNumbers) {
    const MaskNeeds pixels{false, true};
    // Frame 1: a 10 x 10 square and a prediction moved by half its width: Dice 1/2, IoU 1/3,
    // not found, one false positive. Frame 2: nothing at all. Frame 3: a prediction on nothing.
    const GroundTruth truth = Truth(3, {{1, {0, 0, 10, 10}}}, pixels);
    const Detections detections = Results(
        truth, {{1, {5, 0, 10, 10}, 0.9}, {3, {50, 50, 10, 10}, 0.7}, {2, {0, 0, 9, 9}, 0.2}},
        pixels);
    const FrameReport report = EvaluateFrames(truth, detections, 0.5);
    const FrameScores& polyp = report.perCategory[0];
    // Dice: frame 1 gives 1/2, frame 3 (a prediction, no region) 0.
    EXPECT_DOUBLE_EQ(polyp.dice, 0.25);
    EXPECT_DOUBLE_EQ(polyp.iou, 1.0 / 6);
    EXPECT_DOUBLE_EQ(polyp.sensitivity, 0);
    EXPECT_DOUBLE_EQ(polyp.specificity, 0.5);  // frame 2 clean, frame 3 not
    EXPECT_DOUBLE_EQ(polyp.fpPerFrame, 2.0 / 3);
    EXPECT_EQ(polyp.frames, 3);
    EXPECT_EQ(report.perCategory[1].dice, -1);               // no ulcer anywhere
    EXPECT_DOUBLE_EQ(report.overall.specificity, 4.0 / 5);   // pairs without a region
    EXPECT_EQ(report.perFolder.at("video-1")[0].frames, 2);  // frames 1 and 3
    // Exact predictions.
    const FrameReport exact =
        EvaluateFrames(truth, Results(truth, {{1, {0, 0, 10, 10}, 0.9}}, pixels), 0.5);
    EXPECT_DOUBLE_EQ(exact.overall.dice, 1);
    EXPECT_DOUBLE_EQ(exact.overall.sensitivity, 1);
    EXPECT_DOUBLE_EQ(exact.overall.specificity, 1);
    EXPECT_DOUBLE_EQ(exact.overall.fpPerFrame, 0);
}

TEST_F(EvalFiles, BadResultsNameTheirEntry) {
    const GroundTruth truth = Truth(1, {{1, Medium(0)}}, {true, false});
    const std::string good =
        R"({"image_id": 1, "category_id": 1, "bbox": [0, 0, 5, 5], "score": 0.5})";
    struct Case {
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {"[" + good + R"(, {"image_id": 7, "category_id": 1, "bbox": [0,0,1,1], "score": 1}])",
         "entry 1: unknown image_id 7"},
        {"[" + good + R"(, {"image_id": 1, "category_id": 9, "bbox": [0,0,1,1], "score": 1}])",
         "entry 1: unknown category_id 9"},
        {"[" + good + "," + good +
             R"(, {"image_id": 1, "category_id": 1, "bbox": [0,0,1,1], "score": NaN}])",
         "entry 2: malformed JSON"},
        {"[" + good + R"(, {"image_id": 1, "category_id": 1, "bbox": [0,0,1,1], "score": "nan"}])",
         "entry 1: score is not a finite number"},
        {"[" + good +
             R"(, {"image_id": 1, "category_id": 1, "score": 1, "segmentation": {"size": [10, 400], "counts": "0"}}])",
         "entry 1: segmentation of size [10, 400] on an image of size [400, 400]"},
        {"[" + good + R"(, {"image_id": 1, "category_id": 1, "score": 1}])",
         "entry 1: neither \"bbox\" nor \"segmentation\""},
        {"[" + good + ", 3]", "entry 1: not an object"},
        {"[" + good + ", {\"image_id\": 1", "entry 1: malformed JSON"},
        {R"({"image_id": 1})", "not an array of results"},
    };
    for (const Case& c : cases) {
        try {
            LoadDetections(WriteText("bad.json", c.text), truth, {true, false});
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const DetectionError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
}

TEST_F(EvalFiles, FramesGetTheIdsOfTheDataSet) {
    DatasetCatalog catalog(DatasetOptions{});
    GroundTruth truth;
    for (int i = 0; i < 2; ++i) {
        Frame frame;
        frame.width = 100;
        frame.height = 80;
        frame.fileName = "f" + std::to_string(i) + ".png";
        frame.labels = {{"Polyp", ""}};
        Region region;
        region.label = "Polyp";
        region.outline = {{10, 10}, {30, 10}, {30, 20}};
        region.area = 100;
        region.box = {10, 10, 20, 10};
        frame.regions = {region, region};
        const FrameSource source = FrameSource::File("f.xml");
        truth.AddFrame(catalog.Admit(frame, source), "", {true, true});
    }
    truth.SetCategories(catalog.categories());
    ASSERT_EQ(truth.images().size(), 2u);
    EXPECT_EQ(truth.images()[1].id, 2);
    EXPECT_EQ(truth.objects()[3].id, 4);
    EXPECT_EQ(truth.objects()[3].imageId, 2);
    EXPECT_EQ(truth.categories().at(0).name, "Polyp");
    EXPECT_EQ(RleArea(truth.objects()[0].mask),
              RleArea(RleFromPolygon(std::vector<Point>{{10, 10}, {30, 10}, {30, 20}}, 80, 100)));
}

}  // namespace
}  // namespace annoxml
