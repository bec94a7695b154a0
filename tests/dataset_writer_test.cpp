#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "annoxml/dataset.h"
#include "test_xml.h"

using namespace annoxml;
using Json = nlohmann::ordered_json;

namespace {

Frame TwoRegionFrame(const std::string& fileName) {
    Frame frame;
    frame.source = fileName + ".xml";
    frame.fileName = fileName;
    frame.width = 640;
    frame.height = 480;
    frame.captured = "2026/01/02 03:04:05";
    frame.labels = {{"Polyp", ""}, {"Ulcer", ""}};
    Region square;
    square.kind = ShapeKind::Rectangle;
    square.index = "1";
    square.label = "Ulcer";
    square.outline = {{0.1, 0.2}, {10.3, 0.2}, {10.3, 5}, {0.1, 5}};
    square.area = 10.2 * 4.8;
    square.box = {0.1, 0.2, 10.2, 4.8};
    Region inMask = square;
    inMask.kind = ShapeKind::Polygon;
    inMask.index = "2";
    inMask.label = "Polyp";
    inMask.mask = "3";
    inMask.description = "é";
    frame.regions = {square, inMask};
    return frame;
}

Json ReadJson(const std::string& path) { return Json::parse(test::ReadFile(path)); }

TEST(DatasetWriter, WritesStandardInstancesOnlyOnCommit) {
    const test::TempDir dir;
    const std::string path = dir.File("instances.json");
    DatasetCatalog catalog({});
    {
        DatasetWriter writer(path, catalog);
        writer.Add(catalog.Admit(TwoRegionFrame("a.png"), FrameSource::File("a.xml")));
        writer.Add(catalog.Admit(Frame{}, FrameSource::Below("in/f/b.xml", 7)));
        writer.Add(catalog.Admit(TwoRegionFrame("c.png"), FrameSource::File("c.xml")));
        EXPECT_FALSE(std::filesystem::exists(path));
        writer.Commit();
        ASSERT_EQ(writer.files().size(), 1u);
        EXPECT_EQ(writer.files()[0].images, 3);
        EXPECT_EQ(writer.files()[0].annotations, 4);
    }
    const Json data = ReadJson(path);
    EXPECT_EQ(data["images"][0], (Json{{"id", 1},
                                       {"file_name", "a.png"},
                                       {"width", 640},
                                       {"height", 480},
                                       {"date_captured", "2026/01/02 03:04:05"}}));
    EXPECT_EQ(data["images"][1]["file_name"], "f/");
    EXPECT_EQ(data["images"][2]["id"], 3);
    EXPECT_EQ(data["categories"], (Json::parse(R"([{"id": 1, "name": "Polyp", "supercategory": ""},
                                                    {"id": 2, "name": "Ulcer", "supercategory": ""}])")));
    const Json& annotations = data["annotations"];
    ASSERT_EQ(annotations.size(), 4u);
    std::vector<int> ids, imageIds, categoryIds;
    for (const Json& annotation : annotations) {
        ids.push_back(annotation["id"]);
        imageIds.push_back(annotation["image_id"]);
        categoryIds.push_back(annotation["category_id"]);
    }
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(imageIds, (std::vector<int>{1, 1, 3, 3}));
    EXPECT_EQ(categoryIds, (std::vector<int>{2, 1, 2, 1}));
    // Numbers round-trip exactly; text stays UTF-8.
    EXPECT_EQ(annotations[0]["segmentation"],
              Json::parse("[[0.1, 0.2, 10.3, 0.2, 10.3, 5.0, 0.1, 5.0]]"));
    EXPECT_EQ(annotations[0]["area"].get<double>(), 10.2 * 4.8);
    EXPECT_EQ(annotations[0]["bbox"], Json::parse("[0.1, 0.2, 10.2, 4.8]"));
    EXPECT_EQ(annotations[0]["iscrowd"], 0);
    EXPECT_EQ(annotations[0]["attributes"],
              (Json{{"kind", "Rectangle"}, {"index", "1"}, {"description", ""}}));
    EXPECT_EQ(annotations[1]["attributes"],
              (Json{{"kind", "Polygon"}, {"index", "2"}, {"mask", "3"}, {"description", "é"}}));
    EXPECT_NE(test::ReadFile(path).find("\"é\""), std::string::npos);
}

// Pretty output is exactly what the JSON library prints for the same document.
TEST(DatasetWriter, IndentMatchesTheJsonLibrarysOwnLayout) {
    for (const int indent : {-1, 0, 2, 4}) {
        SCOPED_TRACE(indent);
        const test::TempDir dir;
        DatasetCatalog catalog({});
        DatasetWriter writer(dir.File("d.json"), catalog, indent);
        writer.Add(catalog.Admit(TwoRegionFrame("a.png"), FrameSource::File("a.xml")));
        writer.Add(catalog.Admit(Frame{}, FrameSource::File("b.xml")));
        writer.Commit();
        const std::string text = test::ReadFile(dir.File("d.json"));
        EXPECT_EQ(text, Json::parse(text).dump(indent) + "\n");
    }
    const test::TempDir dir;
    DatasetCatalog empty({});
    DatasetWriter writer(dir.File("e.json"), empty, 2);
    writer.Commit();
    const std::string text = test::ReadFile(dir.File("e.json"));
    EXPECT_EQ(text, Json::parse(text).dump(2) + "\n");
}

// Annotations formatted ahead on other threads give the very bytes of adding frames alone.
TEST(DatasetWriter, PreparedAnnotationsWriteWhatAddingAloneWrites) {
    const std::vector<Frame> frames = {TwoRegionFrame("a.png"), Frame{}, TwoRegionFrame("c.png")};
    for (const int indent : {-1, 0, 2}) {
        SCOPED_TRACE(indent);
        const test::TempDir dir;
        DatasetCatalog catalog({});
        DatasetWriter alone(dir.File("alone.json"), catalog, indent);
        DatasetWriter prepared(dir.File("prepared.json"), catalog, indent);
        for (const Frame& frame : frames) {
            PreparedAnnotations annotations;
            std::thread([&] { annotations = PreparedAnnotations(frame, indent); }).join();
            const DatasetFrame admitted = catalog.Admit(frame, FrameSource::File("f.xml"));
            alone.Add(admitted);
            prepared.Add(admitted, annotations);
        }
        alone.Commit();
        prepared.Commit();
        EXPECT_EQ(test::ReadFile(dir.File("alone.json")),
                  test::ReadFile(dir.File("prepared.json")));
    }
    const test::TempDir dir;
    DatasetCatalog catalog({});
    DatasetWriter writer(dir.File("w.json"), catalog, 2);
    const DatasetFrame frame = catalog.Admit(TwoRegionFrame("a.png"), FrameSource::File("a.xml"));
    EXPECT_THROW(writer.Add(frame, PreparedAnnotations(frame.frame, 4)), std::invalid_argument);
    EXPECT_THROW(writer.Add(frame, PreparedAnnotations(Frame{}, 2)), std::invalid_argument);
    // A preparation that fails part-way leaves nothing behind for the next on the same thread.
    Frame badText = frame.frame;
    badText.regions[1].description = "\xff";
    EXPECT_THROW(PreparedAnnotations(badText, 2), nlohmann::json::type_error);
    writer.Add(frame, PreparedAnnotations(frame.frame, 2));
    writer.Commit();
    EXPECT_EQ(writer.files()[0].annotations, 2);
    EXPECT_EQ(nlohmann::json::parse(test::ReadFile(dir.File("w.json")))["annotations"][0]["id"], 1);
}

// Past the first megabytes, annotations wait in a temporary file; the data set stays whole.
TEST(DatasetWriter, LargeDataSetsComeOutWholeInOrder) {
    Frame large = TwoRegionFrame("large.png");
    large.regions.resize(1);
    large.regions[0].kind = ShapeKind::Polygon;
    large.regions[0].outline.clear();
    constexpr int kPoints = 150000;
    for (int i = 0; i < kPoints; ++i) {
        large.regions[0].outline.push_back({i + 0.125, 1e5 - i - 0.375});
    }
    constexpr int kFrames = 6;  // about 3 MB of annotations each, more than waits in memory
    for (const bool split : {false, true}) {
        SCOPED_TRACE(split ? "two splits" : "one file");
        const test::TempDir dir;
        DatasetOptions options;
        if (split) options.splits = {{"a", 0.5}, {"b", 0.5}};
        DatasetCatalog catalog(options);
        DatasetWriter writer(dir.File("large.json"), catalog);
        std::map<std::string, std::vector<int>> indexes;  // per file, in order
        for (int i = 0; i < kFrames; ++i) {
            large.regions[0].index = std::to_string(i);
            large.fileName = "large-" + std::to_string(i) + ".png";
            // A size not known: the outline, mostly outside 640 x 480, counts as it is.
            large.width = large.height = 0;
            const DatasetFrame frame =
                catalog.Admit(large, FrameSource::File("large-" + std::to_string(i) + ".xml"));
            writer.Add(frame);
            indexes[frame.split].push_back(i);
        }
        writer.Commit();
        for (const DatasetWriter::FileSummary& file : writer.files()) {
            SCOPED_TRACE(file.path);
            const std::string text = test::ReadFile(file.path);
            const Json data = Json::parse(text);
            EXPECT_EQ(text, data.dump() + "\n");
            const std::vector<int>& expected = indexes[file.split];
            ASSERT_EQ(data["annotations"].size(), expected.size());
            for (std::size_t k = 0; k < expected.size(); ++k) {
                const Json& annotation = data["annotations"][k];
                EXPECT_EQ(annotation["id"], k + 1);
                EXPECT_EQ(annotation["attributes"]["index"], std::to_string(expected[k]));
                EXPECT_EQ(annotation["segmentation"][0].size(), 2u * kPoints);
                EXPECT_EQ(annotation["segmentation"][0].back(), 1e5 - (kPoints - 1) - 0.375);
            }
        }
    }
}

TEST(DatasetWriter, OneFilePerSplitEachWithAllCategoriesAndNothingWithoutCommit) {
    const test::TempDir dir;
    DatasetOptions options;
    options.splits = {{"train", 0.5}, {"val", 0.5}};
    DatasetCatalog catalog(options);
    {
        DatasetWriter writer(dir.File("set.json"), catalog);
        for (int i = 0; i < 20; ++i) {
            const std::string name = std::to_string(i);
            writer.Add(catalog.Admit(TwoRegionFrame(name), FrameSource::File(name)));
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    DatasetCatalog again(options);
    DatasetWriter writer(dir.File("set.json"), again);
    int total = 0;
    for (int i = 0; i < 20; ++i) {
        const std::string name = std::to_string(i);
        const DatasetFrame frame = again.Admit(TwoRegionFrame(name), FrameSource::File(name));
        writer.Add(frame);
        EXPECT_EQ(frame.split, AssignSplit(name, options.splits, 0));
    }
    writer.Commit();
    for (const char* split : {"train", "val"}) {
        SCOPED_TRACE(split);
        const Json data = ReadJson(dir.File(std::string("set_") + split + ".json"));
        EXPECT_EQ(data["categories"].size(), 2u);
        EXPECT_EQ(data["images"].at(0)["id"], 1);
        EXPECT_EQ(data["annotations"].at(0)["id"], 1);
        total += static_cast<int>(data["images"].size());
    }
    EXPECT_EQ(total, 20);
    EXPECT_FALSE(std::filesystem::exists(dir.File("set.json")));
}

TEST(DatasetWriter, SplitPathInsertsTheNameBeforeTheExtension) {
    EXPECT_EQ(SplitPath("out/instances.json", "train"), "out/instances_train.json");
    EXPECT_EQ(SplitPath("instances", "val"), "instances_val");
    EXPECT_EQ(SplitPath("a.b/set.v1.json", "test"), "a.b/set.v1_test.json");
}

TEST(CategoryList, ParsesIdsNamesAndRefusesWhatIsNotOne) {
    const std::vector<Category> categories =
        ParseCategoryList(R"([{"id": 4, "name": "Polyp", "supercategory": "lesion"},
                              {"id": 2, "name": "Ulcer"}])");
    ASSERT_EQ(categories.size(), 2u);
    EXPECT_EQ(categories[0].id, 4);
    EXPECT_EQ(categories[0].supercategory, "lesion");
    EXPECT_EQ(categories[1].name, "Ulcer");
    const std::pair<const char*, const char*> bad[] = {
        {"{}", "not a JSON array of categories"},
        {"[1", "not a JSON array of categories"},
        {"[3]", "category 1: not an object"},
        {R"([{"name": "a"}])", "category 1: \"id\" must be a positive integer"},
        {R"([{"id": 1.5, "name": "a"}])", "category 1: \"id\" must be a positive integer"},
        {R"([{"id": 1}])", "category 1: \"name\" must be a non-empty string"},
        {R"([{"id": 1, "name": "a", "supercategory": 2}])",
         "category 1: \"supercategory\" must be a string"},
        {R"([{"id": 1, "name": "a"}, {"id": 1, "name": "b"}])", "category 2: id 1 is used twice"},
        {R"([{"id": 1, "name": "a"}, {"id": 2, "name": "a"}])",
         "category 2: name \"a\" is used twice"},
    };
    for (const auto& [json, message] : bad) {
        SCOPED_TRACE(json);
        try {
            ParseCategoryList(json);
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
    }
}

}  // namespace
