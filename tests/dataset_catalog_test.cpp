#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "annoxml/dataset.h"
#include "test_xml.h"

using namespace annoxml;

namespace {

// A frame with the given label list and one polygon (a unit square) per entry of
// `regionLabels`; each frame made names an image of its own.
Frame MakeFrame(const std::vector<std::string>& labels,
                const std::vector<std::string>& regionLabels = {}) {
    static int made = 0;
    Frame frame;
    frame.source = "in/a.xml";
    frame.fileName = made++ == 0 ? "a.png" : "a-" + std::to_string(made) + ".png";
    for (const std::string& name : labels) frame.labels.push_back({name, "#" + name});
    for (const std::string& label : regionLabels) {
        Region region;
        region.kind = ShapeKind::Polygon;
        region.index = std::to_string(frame.regions.size() + 1);
        region.label = label;
        region.outline = {{1, 1}, {2, 1}, {2, 2}, {1, 2}};
        region.area = 1;
        frame.regions.push_back(region);
    }
    return frame;
}

std::vector<std::string> Names(const std::vector<Category>& categories) {
    std::vector<std::string> names;
    for (const Category& category : categories) names.push_back(category.name);
    return names;
}

struct CategoryCase {
    const char* name;
    DatasetOptions options;
    std::vector<std::vector<std::string>> frames;  // label lists, one region per label
    std::vector<std::string> categories;           // names, ids from the first
    std::vector<std::vector<int>> categoryIds;     // per frame
};

DatasetOptions WithRenames(std::vector<std::pair<std::string, std::string>> renames) {
    DatasetOptions options;
    options.renames = std::move(renames);
    return options;
}

DatasetOptions WithCategories(std::vector<Category> categories) {
    DatasetOptions options;
    options.categories = std::move(categories);
    return options;
}

const CategoryCase kCategoryCases[] = {
    {"first appearance, names exact",
     {},
     {{"Polyp", "Ulcer"}, {"polyp", "Polyp", "Bleeding"}},
     {"Polyp", "Ulcer", "polyp", "Bleeding"},
     {{1, 2}, {3, 1, 4}}},
    {"rename merges spelling variants",
     WithRenames({{"polyp", "Polyp"}, {"Polpy", "Polyp"}}),
     {{"polyp"}, {"Ulcer", "Polpy"}},
     {"Polyp", "Ulcer"},
     {{1}, {2, 1}}},
    {"fixed list keeps its ids",
     WithCategories({{7, "Ulcer", "lesion", ""}, {3, "Polyp", "lesion", ""}}),
     {{"Polyp"}, {"Ulcer", "Polyp"}},
     {"Ulcer", "Polyp"},
     {{3}, {7, 3}}},
};

TEST(DatasetCatalog, CategoriesInOrderOfFirstAppearanceRenamedOrFixed) {
    for (const CategoryCase& c : kCategoryCases) {
        SCOPED_TRACE(c.name);
        DatasetCatalog catalog(c.options);
        for (std::size_t i = 0; i < c.frames.size(); ++i) {
            const DatasetFrame admitted = catalog.Admit(MakeFrame(c.frames[i], c.frames[i]),
                                                        FrameSource::Below("in/a.xml", 5));
            EXPECT_EQ(admitted.categoryIds, c.categoryIds[i]) << "frame " << i;
        }
        EXPECT_EQ(Names(catalog.categories()), c.categories);
        if (!c.options.categories) {
            for (std::size_t i = 0; i < catalog.categories().size(); ++i) {
                EXPECT_EQ(catalog.categories()[i].id, static_cast<int>(i) + 1);
                EXPECT_EQ(catalog.categories()[i].supercategory, "");
            }
        }
    }
}

TEST(DatasetCatalog, LabelOutsideFixedListFailsTheFrameAndAddsNothing) {
    DatasetCatalog catalog(WithCategories({{1, "Polyp", "", ""}}));
    try {
        catalog.Admit(MakeFrame({"Polyp", "Ulcer"}, {"Polyp", "Ulcer"}),
                      FrameSource::Below("in/a.xml", 5));
        ADD_FAILURE() << "no error";
    } catch (const FrameError& error) {
        EXPECT_EQ(error.detail(),
                  "Polygon with Index 2: label \"Ulcer\" is not in the category list");
    }
    EXPECT_EQ(Names(catalog.categories()), std::vector<std::string>{"Polyp"});
    // An unused label of the file's list does not fail it.
    EXPECT_NO_THROW(
        catalog.Admit(MakeFrame({"Ulcer", "Polyp"}, {"Polyp"}), FrameSource::File("b.xml")));
}

TEST(DatasetCatalog, FileNameJoinsTheFolderAndLabelsAreRenamedEverywhere) {
    DatasetCatalog catalog(WithRenames({{"p", "Polyp"}}));
    const DatasetFrame inFolder =
        catalog.Admit(MakeFrame({"p"}, {"p"}), FrameSource::Below("in/ward-b/x.xml", 12));
    EXPECT_EQ(inFolder.fileName, "ward-b/" + inFolder.frame.fileName);
    EXPECT_EQ(inFolder.frame.labels[0].name, "Polyp");
    EXPECT_EQ(inFolder.frame.regions[0].label, "Polyp");
    EXPECT_EQ(catalog.categories()[0].color, "#p");
    Frame windowsPath = MakeFrame({});
    windowsPath.fileName = "C:\\Endo\\case 7\\f.png";
    EXPECT_EQ(catalog.Admit(windowsPath, FrameSource::File("x.xml")).fileName, "f.png");
    Frame unixPath = MakeFrame({});
    unixPath.fileName = "/data/case 7/g.png";
    EXPECT_EQ(catalog.Admit(unixPath, FrameSource::Below("in/w/x.xml", 7)).fileName, "w/g.png");
    EXPECT_EQ(inFolder.split, "");
}

const std::vector<SplitShare> kShares{{"train", 0.8}, {"val", 0.1}, {"test", 0.1}};

TEST(DatasetSplits, SharesHoldWithinTwoPointsAndTheSeedMatters) {
    for (const std::uint64_t seed : {0ull, 1ull, 12345ull}) {
        SCOPED_TRACE(seed);
        std::map<std::string, int> counts;
        for (int i = 0; i < 10000; ++i) {
            ++counts[AssignSplit("study/frame-" + std::to_string(i) + ".xml", kShares, seed)];
        }
        for (const SplitShare& split : kShares) {
            EXPECT_NEAR(counts[split.name] / 10000.0, split.share, 0.02) << split.name;
        }
    }
    int moved = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::string key = "f" + std::to_string(i);
        moved += AssignSplit(key, kShares, 0) != AssignSplit(key, kShares, 1);
    }
    EXPECT_GT(moved, 100);
}

// Fixed values: a change of the hash would move frames of existing data sets between splits.
TEST(DatasetSplits, AssignmentIsFixedAcrossRunsAndMachines) {
    const std::vector<SplitShare> half{{"a", 0.5}, {"b", 0.5}};
    std::string assigned;
    for (int i = 0; i < 16; ++i) assigned += AssignSplit(std::to_string(i), half, 0);
    EXPECT_EQ(assigned, "bbaaaaabbbababba");
}

TEST(DatasetSplits, FramesAddedLaterMoveNothingAndFoldersStayWhole) {
    DatasetOptions options;
    options.splits = kShares;
    options.groupBy = GroupBy::Folder;
    DatasetCatalog before(options);
    DatasetCatalog after(options);
    std::map<std::string, std::string> splitOfFolder;
    for (int i = 0; i < 200; ++i) {
        const std::string folder = "patient-" + std::to_string(i % 20);
        const std::string relative = folder + "/" + std::to_string(i) + ".xml";
        const FrameSource source = FrameSource::Below("in/" + relative, relative.size());
        const std::string split = before.Admit(MakeFrame({}), source).split;
        const auto [known, added] = splitOfFolder.emplace(folder, split);
        EXPECT_EQ(known->second, split) << relative;
        if (i % 3 == 0) {  // "after" also holds frames that "before" lacks
            after.Admit(MakeFrame({}),
                        FrameSource::Below("in/new-" + relative, relative.size() + 4));
        }
        EXPECT_EQ(after.Admit(MakeFrame({}), source).split, split) << relative;
    }
}

TEST(DatasetSources, FoldersSortedInByteOrderFilesAsGivenDashIsStandardInput) {
    const test::TempDir dir;
    for (const char* name : {"b.xml", "a/z.xml", "a-b/y.xml", "a/notes.txt", "A.xml"}) {
        std::filesystem::create_directories(std::filesystem::path(dir.File(name)).parent_path());
        dir.Write(name, "<A/>");
    }
    const std::string root = dir.path().string();
    const std::vector<FrameSource> sources = ListFrameSources({root, "single.xml", "-"}, false);
    std::vector<std::string> relative, folders;
    for (const FrameSource& source : sources) {
        relative.emplace_back(source.relativePath());
        folders.emplace_back(source.folder());
    }
    EXPECT_EQ(relative, (std::vector<std::string>{"A.xml", "a-b/y.xml", "a/z.xml", "b.xml",
                                                  "single.xml", "-"}));
    EXPECT_EQ(folders, (std::vector<std::string>{"", "a-b", "a", "", "", ""}));
    EXPECT_EQ(sources[1].path, root + "/a-b/y.xml");
    EXPECT_EQ(sources.back().path, "/dev/stdin");
    EXPECT_EQ(GroupKey(sources[2], GroupBy::Folder), "a");
    EXPECT_EQ(GroupKey(sources[2], GroupBy::File), "a/z.xml");
    EXPECT_EQ(GroupKey(FrameSource::File("x/y/z.xml"), GroupBy::Folder), "x/y");
    // Several inputs: each folder's own name leads the paths below it, with or without a
    // trailing slash; "." has none.
    const std::string name = dir.path().filename().string();
    for (const std::string& given : {root, root + "/"}) {
        const std::vector<FrameSource> named = ListFrameSources({given, "single.xml"});
        EXPECT_EQ(named[2].relativePath(), name + "/a/z.xml");
        EXPECT_EQ(named[2].folder(), name + "/a");
        EXPECT_EQ(named[2].path, given + (given.back() == '/' ? "" : "/") + "a/z.xml");
    }
}

// Links to files are listed as the files; links to folders are not followed, and a dangling link
// or a name that is only ".xml" is no file to read.
TEST(DatasetSources, LinksToFilesCountLinksToFoldersDoNot) {
    namespace fs = std::filesystem;
#ifdef _WIN32
    GTEST_SKIP() << "the Windows build makes no symbolic links";
#endif
    const test::TempDir dir;
    const test::TempDir elsewhere;
    fs::create_directories(dir.path() / "in" / "d.xml");
    dir.Write("in/d.xml/inner.xml", "<A/>");
    dir.Write("in/.xml", "<A/>");
    elsewhere.Write("real.xml", "<A/>");
    elsewhere.Write("far.xml", "<A/>");
    fs::create_symlink(elsewhere.File("real.xml"), dir.path() / "in" / "link.xml");
    fs::create_symlink(elsewhere.path(), dir.path() / "in" / "folder-link");
    fs::create_symlink(dir.path() / "missing.xml", dir.path() / "in" / "dangling.xml");
    for (const std::string& root : {dir.File("in"), dir.File("in") + "/"}) {
        SCOPED_TRACE(root);
        std::vector<std::string> relative;
        for (const FrameSource& source : ListFrameSources({root})) {
            relative.emplace_back(source.relativePath());
            EXPECT_EQ(source.path, dir.File("in") + "/" + relative.back());
        }
        EXPECT_EQ(relative, (std::vector<std::string>{"d.xml/inner.xml", "link.xml"}));
    }
}

// Every *.xml file below `root` by its path below it, as a plain sort of the whole paths orders
// them: the order that the walk, which keeps one folder's entries at a time, must give.
std::vector<std::string> SortedXmlPathsBelow(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    std::vector<std::string> paths;
    for (fs::recursive_directory_iterator entry(root), end; entry != end; ++entry) {
        if (entry->is_regular_file() && entry->path().extension() == ".xml") {
            paths.push_back(fs::relative(entry->path(), root).generic_string());
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

void WriteTree(const test::TempDir& dir, const std::vector<std::string>& files,
               const std::string& content = "<A/>") {
    for (const std::string& name : files) {
        std::filesystem::create_directories(std::filesystem::path(dir.File(name)).parent_path());
        dir.Write(name, content);
    }
}

TEST(DatasetSources, WalkGivesTheOrderOfTheWholePathsSorted) {
    const std::vector<std::vector<std::string>> trees = {
        {"a-b/x.xml", "a/y.xml", "a.xml", "a/b/c.xml", "a0.xml", "a/b.xml"},
        {"a b/z.xml", "a/z.xml", "a!/z.xml", "a./z.xml", "a.xml", "a/.xml", "ab.xml", "a/ b.xml"},
        {"\xc3\xa9/x.xml", "e/x.xml", "z/x.xml", "\xe6\x97\xa5/x.xml", "Z.xml", "\xc3\xa9.xml",
         "e\xcc\x81.xml", "~/x.xml"},
        {"d/d/d/d.xml", "d/d.xml", "d/d/d.xml", "d.xml", "d-/d.xml", "d/e/x.xml", "d/c.xml",
         "d/d-/x.xml", "d/d.xml0/x.xml"},
        {"x.xml/inner.xml", "x.xml0/y.xml", "x.xm/z.xml", "notes.txt", "a/notes.txt", "e/f/g.txt"},
        // Names alike in their first bytes and beyond the eight after those, and names that
        // begin other names.
        {"p-aaaaaaaaaa2.xml", "p-aaaaaaaaaa1.xml", "p-aaaaaaaaaa10.xml", "p-aaaaaaaa.xml",
         "p-aaaaaaaa/x.xml", "p-b.xml", "p-aaaaaaaaaa1.xml0/y.xml", "q/frame-00000000002.xml",
         "q/frame-00000000001.xml", "q/frame-0000000001.xml", "q/frame-000000000.xml"},
    };
    for (const std::vector<std::string>& tree : trees) {
        const test::TempDir dir;
        WriteTree(dir, tree);
        const std::string root = dir.path().string();
        const std::vector<std::string> expected = SortedXmlPathsBelow(dir.path());
        SCOPED_TRACE(testing::PrintToString(expected));
        std::vector<std::string> listed;
        for (const FrameSource& source : ListFrameSources({root})) {
            listed.emplace_back(source.relativePath());
            EXPECT_EQ(source.path, root + "/" + listed.back());
        }
        EXPECT_EQ(listed, expected);
        // Two inputs: each one's files in turn, below its own name. Counted on two threads, and
        // the second walked from listings made again, as the first took the kept ones.
        const std::string name = dir.path().filename().string();
        FrameSourceWalk walk({root, root + "/"}, true, {}, 2);
        EXPECT_EQ(walk.Count(), 2 * expected.size());
        std::vector<std::string> walked;
        FrameSource source;
        while (walk.Next(source)) walked.emplace_back(source.relativePath());
        std::vector<std::string> twice;
        for (int i = 0; i < 2; ++i) {
            for (const std::string& path : expected) twice.push_back(name + "/" + path);
        }
        EXPECT_EQ(walked, twice);
        EXPECT_TRUE(walk.lateFailures().empty());
    }
}

// In walk order the catalog forgets a folder's file names once the walk has left it for good. It
// must find every duplicate that a check against all file names finds, with the same message:
// across the folders below a folder, across inputs of the same name, and among input files and
// the top of a folder given without its name.
TEST(DatasetSources, DuplicatesFoundInWalkOrderAsAgainstAllFileNames) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;  // path -> its image
        std::vector<std::string> inputs;                         // below the temporary folder
        std::size_t duplicates;
    };
    const std::vector<Case> cases = {
        {"a folder goes on after the folders below it",
         {{"in/a/1.xml", "p.png"},
          {"in/a/b/2.xml", "p.png"},
          {"in/a/c.xml", "C:\\x\\p.png"},
          {"in/a-b/0.xml", "p.png"},
          {"in/a.xml", "p.png"},
          {"in/b.xml", "p.png"},
          {"in/c/3.xml", "q.png"},
          {"in/d/4.xml", "q.png"}},
         {"in"},
         2},
        {"inputs of the same name",
         {{"x/a/1.xml", "p.png"},
          {"x/a/s/3.xml", "p.png"},
          {"y/a/1.xml", "p.png"},
          {"y/a/s/2.xml", "p.png"},
          {"z/b/1.xml", "p.png"}},
         {"x/a", "z/b", "y/a/"},
         2},
        {"input files and a folder given without its name",
         {{"in/x.xml", "p.png"},
          {"in/s/1.xml", "q.png"},
          {"f.xml", "p.png"},
          {"other/s/2.xml", "q.png"},
          {"other/t/2.xml", "q.png"}},
         {"in/.", "f.xml", "other/s", "other/t"},
         2},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const test::TempDir dir;
        for (const auto& [path, image] : test.files) {
            WriteTree(dir, {path},
                      "<Annotation><ImageInformation><FileName>" + image +
                          "</FileName><Width>8</Width><Height>8</Height></ImageInformation>"
                          "<User UserID=\"u\"/></Annotation>");
        }
        std::vector<std::string> inputs;
        for (const std::string& input : test.inputs) inputs.push_back(dir.File(input));
        DatasetOptions options;
        options.splits = {{"train", 0.5}, {"val", 0.5}};
        DatasetCatalog catalog(options);
        FrameSourceWalk walk(inputs, inputs.size() > 1);
        catalog.AdmitInWalkOrder(walk.FolderMayRecur());
        std::vector<std::string> found, expected;
        std::map<std::string, std::string> owners;  // every file name admitted, and its source
        std::set<std::string> groups;
        FrameSource source;
        while (walk.Next(source)) {
            const Frame frame = ReadFrame(source.path);
            try {
                catalog.Admit(frame, source);
            } catch (const DuplicateFileName& error) {
                found.push_back(source.path + ": " + error.detail());
            }
            const std::string fileName =
                (source.folder().empty() ? "" : std::string(source.folder()) + "/") +
                std::string(ImageFileName(frame.fileName));
            const auto [owner, added] = owners.emplace(fileName, frame.source);
            if (added) {
                groups.insert(GroupKey(source, GroupBy::File));
            } else {
                expected.push_back(source.path + ": file_name \"" + fileName +
                                   "\" is also the file_name of " + owner->second +
                                   "; both would read the same image");
            }
        }
        EXPECT_EQ(found, expected);
        EXPECT_EQ(expected.size(), test.duplicates);
        EXPECT_EQ(catalog.tally().groups, groups.size());
    }
}

}  // namespace

namespace {

Region PolygonRegion(std::vector<Point> outline) {
    Region region;
    region.kind = ShapeKind::Polygon;
    region.index = "1";
    region.label = "Polyp";
    double twice = 0;
    for (std::size_t i = 0; i < outline.size(); ++i) {
        const Point& a = outline[i];
        const Point& b = outline[(i + 1) % outline.size()];
        twice += a.x * b.y - b.x * a.y;
    }
    region.area = std::abs(twice) / 2;
    double left = 1e300, top = 1e300, right = -1e300, bottom = -1e300;
    for (const Point& p : outline) {
        left = std::min(left, p.x), top = std::min(top, p.y);
        right = std::max(right, p.x), bottom = std::max(bottom, p.y);
    }
    region.box = {left, top, right - left, bottom - top};
    region.outline = std::move(outline);
    return region;
}

}  // namespace

// One rule for every export: no area, or no area inside a frame of known size.
TEST(RegionRule, LeavesOutZeroAreaAndWhollyOutsideRegionsOnly) {
    const std::optional<LeftOutReason> counts;
    const struct {
        const char* name;
        std::vector<Point> outline;
        int width, height;
        std::optional<LeftOutReason> expected;
    } cases[] = {
        {"inside", {{1, 1}, {5, 1}, {5, 5}}, 30, 20, counts},
        {"three points on a line", {{1, 1}, {5, 5}, {9, 9}}, 30, 20, LeftOutReason::ZeroArea},
        {"two points", {{1, 1}, {5, 5}}, 30, 20, LeftOutReason::ZeroArea},
        {"wholly right of the image",
         {{40, 1}, {50, 1}, {50, 9}},
         30,
         20,
         LeftOutReason::OutsideImage},
        {"only touching the right edge",
         {{30, 1}, {40, 1}, {40, 9}},
         30,
         20,
         LeftOutReason::OutsideImage},
        {"box overlaps, triangle misses the corner",
         {{25, -10}, {40, -10}, {40, 5}},
         30,
         20,
         LeftOutReason::OutsideImage},
        {"partly outside", {{25, 1}, {40, 1}, {40, 9}}, 30, 20, counts},
        {"size unknown", {{40, 1}, {50, 1}, {50, 9}}, 0, 0, counts},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RegionLeftOut(PolygonRegion(c.outline), c.width, c.height), c.expected) << c.name;
    }
}

TEST(RegionRule, TheCatalogKeepsTheRestInOrderAndCountsWhatItLeftOut) {
    DatasetOptions options;
    options.splits = {{"train", 0.5}, {"val", 0.5}};
    DatasetCatalog catalog(options);
    Frame frame = MakeFrame({"Polyp"});
    frame.width = 30;
    frame.height = 20;
    frame.regions = {
        PolygonRegion({{1, 1}, {5, 5}, {9, 9}}), PolygonRegion({{1, 1}, {5, 1}, {5, 5}}),
        PolygonRegion({{40, 1}, {50, 1}, {50, 9}}), PolygonRegion({{2, 2}, {6, 2}, {6, 6}})};
    for (std::size_t i = 0; i < frame.regions.size(); ++i) {
        frame.regions[i].index = std::to_string(i + 1);
    }
    const DatasetFrame admitted = catalog.Admit(frame, FrameSource::File("a.xml"));
    ASSERT_EQ(admitted.frame.regions.size(), 2u);
    EXPECT_EQ(admitted.frame.regions[0].index, "2");
    EXPECT_EQ(admitted.frame.regions[1].index, "4");
    EXPECT_EQ(admitted.categoryIds, (std::vector<int>{1, 1}));
    ASSERT_EQ(admitted.leftOut.size(), 2u);
    EXPECT_EQ(admitted.leftOut[0].index, "1");
    EXPECT_EQ(admitted.leftOut[0].reason, LeftOutReason::ZeroArea);
    EXPECT_EQ(admitted.leftOut[1].index, "3");
    EXPECT_EQ(admitted.leftOut[1].reason, LeftOutReason::OutsideImage);
    EXPECT_EQ(LeftOutSummary(catalog.tally()),
              "2 regions left out: 1 zero-area, 1 outside the image");
    // One frame: one split is empty, and the message says which and what to change.
    const std::string other = admitted.split == "train" ? "val" : "train";
    EXPECT_EQ(
        SplitSummary(catalog.tally()),
        "images per split: " + std::string(other == "val" ? "1 train, 0 val" : "0 train, 1 val"));
    try {
        catalog.CheckSplits();
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_THAT(error.what(), testing::HasSubstr("split \"" + other + "\" receives no frame"));
        EXPECT_THAT(error.what(), testing::HasSubstr("the 1 file assigned"));
    }
    // The same image again fails, naming both files.
    try {
        catalog.Admit(frame, FrameSource::File("b.xml"));
        ADD_FAILURE() << "no error";
    } catch (const DuplicateFileName& error) {
        EXPECT_EQ(error.detail(), "file_name \"" + frame.fileName + "\" is also the file_name of " +
                                      frame.source + "; both would read the same image");
    }
}
