#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "annoxml/preview.h"
#include "frame_fixture.h"
#include "test_xml.h"

using namespace annoxml;
using annoxml::test::MakeBox;
using annoxml::test::MakeFrame;
using annoxml::test::ReadFile;
using annoxml::test::TempDir;
using testing::HasSubstr;
using testing::Not;
namespace fs = std::filesystem;

namespace {

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Frame NumberedFrame(int n) {
    Frame frame = MakeFrame("frame-" + std::to_string(n) + ".png");
    frame.labels = {{"Polyp", "#E53935"}};
    frame.regions = {MakeBox("1", "Polyp", 10, 10, 20, 20)};
    return frame;
}

TEST(PreviewWriter, SplitsFramesIntoPagesLinkedBothWaysAndAnIndex) {
    const struct {
        int frames;
        std::size_t pageSize;
        std::vector<std::size_t> framesPerPage;
    } cases[] = {
        {5, 2, {2, 2, 1}}, {4, 2, {2, 2}}, {1, 100, {1}}, {0, 100, {}}, {3, 1, {1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.frames) + " frames by " + std::to_string(c.pageSize));
        TempDir dir;
        const fs::path out = dir.path() / "preview";
        PreviewWriter writer({out.string(), "", c.pageSize});
        for (int n = 1; n <= c.frames; ++n) writer.Add(NumberedFrame(n));
        writer.Finish();
        EXPECT_EQ(writer.pages(), c.framesPerPage.size());
        std::vector<std::string> expected = {".annoxml-export", "index.html"};
        const std::string index = ReadFile((out / "index.html").string());
        for (std::size_t page = 1; page <= c.framesPerPage.size(); ++page) {
            SCOPED_TRACE(page);
            char name[32];
            std::snprintf(name, sizeof name, "page-%04zu.html", page);
            expected.push_back(name);
            const std::string html = ReadFile((out / name).string());
            EXPECT_EQ(Count(html, "<section class=\"frame\""), c.framesPerPage[page - 1]);
            EXPECT_EQ(Count(html, "rel=\"prev\""), page > 1 ? 2u : 0u);
            EXPECT_EQ(Count(html, "rel=\"next\""), page < c.framesPerPage.size() ? 1u : 0u);
            EXPECT_THAT(html, HasSubstr("<a href=\"index.html\">"));
            EXPECT_THAT(index, HasSubstr("<a href=\"" + std::string(name) + "\">"));
        }
        EXPECT_EQ(FilesIn(out), expected);
    }
}

TEST(PreviewWriter, NumbersFramesAcrossPagesAndShowsTheirFacts) {
    TempDir dir;
    PreviewWriter writer({dir.File("out"), "", 2});
    for (int n = 1; n <= 3; ++n) writer.Add(NumberedFrame(n));
    writer.Finish();
    const std::string page = ReadFile(dir.File("out/page-0002.html"));
    EXPECT_THAT(page, HasSubstr("id=\"frame-3\""));
    EXPECT_THAT(page, HasSubstr("frame-3.png</h2>"));
    EXPECT_THAT(page,
                HasSubstr("200 × 100 px · user tester · 2026/03/14 10:42:17 · 1 regions, 0 marks"));
    EXPECT_THAT(page, HasSubstr("viewBox=\"0 0 200 100\""));
    EXPECT_THAT(page, HasSubstr("style=\"aspect-ratio:200/100\""));
    EXPECT_THAT(ReadFile(dir.File("out/index.html")),
                HasSubstr("frames 3–3, frame-3.png … frame-3.png"));
}

TEST(PreviewWriter, PagesAreSelfContained) {
    TempDir dir;
    PreviewWriter writer({dir.File("out"), "", 100});
    writer.Add(NumberedFrame(1));
    writer.AddFailure("bad.xml", "Failed to load xml file: no document element");
    writer.Finish();
    for (const char* name : {"index.html", "page-0001.html"}) {
        SCOPED_TRACE(name);
        // The SVG namespace is a name, never fetched.
        const std::string html =
            std::regex_replace(ReadFile(dir.File(std::string("out/") + name)),
                               std::regex("xmlns=\"http://www.w3.org/2000/svg\""), "");
        EXPECT_THAT(html, testing::StartsWith("<!DOCTYPE html>"));
        EXPECT_THAT(html, HasSubstr("<meta charset=\"utf-8\">"));
        for (const char* external : {"http:", "https:", "<script", "<link", "@import", "url("}) {
            EXPECT_THAT(html, Not(HasSubstr(external))) << external;
        }
    }
}

TEST(PreviewWriter, IndexHasStatisticsLegendAndFailuresEscaped) {
    TempDir dir;
    PreviewWriter writer({dir.File("out"), "", 100});
    Frame frame = NumberedFrame(1);
    frame.labels.push_back({"Ulcer & <b>", "#FB8C00"});
    frame.regions.push_back(MakeBox("2", "Ulcer & <b>", 0, 0, 3, 3));
    frame.regions.push_back(MakeBox("3", "Ulcer & <b>", 0, 0, 3, 3));
    writer.Add(frame);
    writer.Add(MakeFrame("empty.png"));
    writer.AddFailure("dir/<bad>.xml",
                      "Polygon with Index 7: label \"Polpy\" is not in the label list");
    writer.Finish();
    const std::string index = ReadFile(dir.File("out/index.html"));
    EXPECT_THAT(index, HasSubstr("<td>frames</td><td class=\"n\">2</td>"));
    EXPECT_THAT(index, HasSubstr("<td>without regions</td><td class=\"n\">1</td>"));
    EXPECT_THAT(index, HasSubstr("<td>failed files</td><td class=\"n\">1</td>"));
    EXPECT_THAT(index,
                HasSubstr("background:rgb(229,57,53)\"></span>Polyp</td><td class=\"n\">1</td>"));
    EXPECT_THAT(
        index,
        HasSubstr(
            "background:rgb(251,140,0)\"></span>Ulcer &amp; &lt;b&gt;</td><td class=\"n\">2</td>"));
    EXPECT_THAT(index, HasSubstr("<code>dir/&lt;bad&gt;.xml</code>: Polygon with Index 7: label "
                                 "&quot;Polpy&quot; is not in the label list"));
    EXPECT_THAT(index, HasSubstr("<td>Rectangle</td><td class=\"n\">3</td>"));
}

TEST(PreviewWriter, LinksTheImageFoundBesideTheFileOrInTheImagesFolder) {
    TempDir dir;
    fs::create_directories(dir.path() / "study" / "images" / "sub");
    fs::create_directories(dir.path() / "library" / "video 1");
    dir.Write("study/beside.png", "png");
    dir.Write("study/images/sub/nested.png", "png");
    dir.Write("library/video 1/named é.png", "png");
    dir.Write("library/flat.png", "png");
    // The lookup of FindFrameImage: IMAGES/data-set file name, IMAGES/FileName's last component,
    // that beside the annotation file.
    const struct {
        const char* name;
        const char* fileName;
        const char* datasetFileName;
        const char* imagesDir;
        const char* link;  // "" when none is found
    } cases[] = {
        {"beside the file", "beside.png", "", "", "../study/beside.png"},
        {"last component beside the file", "images/sub/beside.png", "", "", "../study/beside.png"},
        {"backslashes", "C:\\capture\\beside.png", "", "", "../study/beside.png"},
        {"images folder by data-set file name, encoded", "named é.png", "video 1/named é.png",
         "library", "../library/video%201/named%20%C3%A9.png"},
        {"images folder by last component", "C:\\capture\\flat.png", "video 1/flat.png", "library",
         "../library/flat.png"},
        {"images folder first, then beside", "beside.png", "", "library", "../study/beside.png"},
        {"a folder of FileName is no place to look", "images/sub/nested.png", "", "", ""},
        {"missing", "nowhere.png", "", "library", ""},
        {"empty name", "", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Frame frame = NumberedFrame(1);
        frame.fileName = c.fileName;
        frame.source = dir.File("study/frame.xml");
        const std::string images = *c.imagesDir ? dir.File(c.imagesDir) : "";
        PreviewWriter writer({dir.File("out"), images, 100});
        writer.Add(frame, c.datasetFileName);
        writer.Finish();
        const std::string page = ReadFile(dir.File("out/page-0001.html"));
        if (*c.link) {
            EXPECT_THAT(page, HasSubstr("<img src=\"" + std::string(c.link) +
                                        "\" alt=\"\" loading=\"lazy\" decoding=\"async\">"));
            EXPECT_THAT(page, Not(HasSubstr("class=\"background\"")));
        } else {
            EXPECT_THAT(page, Not(HasSubstr("<img")));
            EXPECT_THAT(page, HasSubstr("class=\"background\""));
            EXPECT_THAT(page, HasSubstr("image not found"));
        }
    }
}

TEST(PreviewWriter, ReplacesTheFolderOfALongerEarlierRunAsAWhole) {
    TempDir dir;
    for (const int frames : {5, 2}) {
        PreviewWriter writer({dir.File("out"), "", 1});
        for (int n = 1; n <= frames; ++n) writer.Add(NumberedFrame(n));
        writer.Finish();
    }
    EXPECT_EQ(FilesIn(dir.path() / "out"),
              (std::vector<std::string>{".annoxml-export", "index.html", "page-0001.html",
                                        "page-0002.html"}));
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"out"});
}

TEST(PreviewWriter, WithoutFinishLeavesTheFolderAsItWas) {
    TempDir dir;
    {
        PreviewWriter writer({dir.File("out"), "", 2});
        writer.Add(NumberedFrame(1));
        writer.Finish();
    }
    const std::string index = ReadFile(dir.File("out/index.html"));
    {
        PreviewWriter writer({dir.File("out"), "", 2});
        for (int n = 1; n <= 5; ++n) writer.Add(NumberedFrame(n));
    }
    EXPECT_EQ(FilesIn(dir.path() / "out"),
              (std::vector<std::string>{".annoxml-export", "index.html", "page-0001.html"}));
    EXPECT_EQ(ReadFile(dir.File("out/index.html")), index);
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"out"});
}

TEST(PreviewWriter, RefusesAPageSizeOfZeroAnOutputThatIsAFileAndAFolderNotItsOwn) {
    TempDir dir;
    EXPECT_THROW(PreviewWriter({dir.File("out"), "", 0}), std::invalid_argument);
    dir.Write("taken", "");
    EXPECT_THROW(PreviewWriter({dir.File("taken/out"), "", 10}), std::runtime_error);
    EXPECT_THROW(PreviewWriter({dir.File("taken"), "", 10}), std::runtime_error);
    fs::create_directories(dir.path() / "photos");
    dir.Write("photos/holiday.jpg", "jpg");
    try {
        PreviewWriter writer({dir.File("photos"), "", 10});
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_THAT(error.what(), HasSubstr("is not empty and was not written by annoxml"));
    }
    EXPECT_EQ(FilesIn(dir.path() / "photos"), std::vector<std::string>{"holiday.jpg"});
    {
        PreviewWriter writer({dir.File("photos"), "", 10, true});
        writer.Finish();
    }
    EXPECT_EQ(FilesIn(dir.path() / "photos"),
              (std::vector<std::string>{".annoxml-export", "index.html"}));
}

}  // namespace
