// The C boundary of the whole-study operations (managed/native/annoxml_dataset_native.h): options
// reach the library, findings and failures come back with their files, progress and
// cancellation, and no output is left by a run that does not complete. Portable: it also runs
// against annoxml.dll.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "annoxml_dataset_native.h"
#include "test_xml.h"

using annoxml::test::ReadFile;
using annoxml::test::TempDir;

namespace {

std::string Frame(const std::string& image, const std::string& label, int x) {
    const std::string p = [](int a, int b) {
        return "<Point>" + std::to_string(a) + "," + std::to_string(b) + "</Point>";
    }(x, 2);
    return "<Annotation><ImageInformation><FileName>" + image +
           "</FileName><Height>20</Height><Width>30</Width></ImageInformation>"
           "<User UserID=\"u\" Time=\"2026/01/02 03:04:05\"/><LabelList>"
           "<Label LabelType=\"Polyp\"/><Label LabelType=\"polyp\"/><Label LabelType=\"Ulcer\"/>"
           "</LabelList><Rectangle Index=\"1\" Label=\"" +
           label + "\">" + p + "<Point>" + std::to_string(x + 8) + ",2</Point><Point>" +
           std::to_string(x + 8) + ",9</Point><Point>" + std::to_string(x) +
           ",9</Point></Rectangle></Annotation>";
}

// A study of `count` frames in four folders, labels Polyp and polyp.
std::string WriteStudy(const TempDir& dir, int count) {
    for (const char* folder : {"in/a", "in/b", "in/c", "in/d"}) {
        std::filesystem::create_directories(dir.File(folder));
    }
    for (int i = 0; i < count; ++i) {
        const std::string name = std::to_string(i);
        dir.Write("in/" + std::string(1, "abcd"[i % 4]) + "/" + name + ".xml",
                  Frame(name + ".png", i % 3 ? "Polyp" : "polyp", i % 20));
    }
    return dir.File("in");
}

struct Error {
    annoxml_status status = ANNOXML_OK;
    std::string file;
    std::string message;
};

// Frees the native texts of a call.
struct Texts {
    char* file = nullptr;
    char* message = nullptr;
    ~Texts() {
        annoxml_error_message_free(file);
        annoxml_error_message_free(message);
    }
    Error With(annoxml_status status) const {
        return {status, file ? file : "", message ? message : ""};
    }
};

struct Finding {
    std::string file;
    annoxml_severity severity;
    std::string message;
    bool operator==(const Finding& other) const {
        return file == other.file && severity == other.severity && message == other.message;
    }
};

std::vector<Finding> Findings(const annoxml_study_result* result) {
    std::vector<Finding> findings;
    for (std::size_t i = 0; i < annoxml_study_result_size(result); ++i) {
        const char* file = nullptr;
        const char* message = nullptr;
        std::size_t fileSize = 0;
        std::size_t messageSize = 0;
        annoxml_severity severity = ANNOXML_SEVERITY_ERROR;
        annoxml_study_result_finding(result, i, &file, &fileSize, &severity, &message,
                                     &messageSize);
        findings.push_back(
            {std::string(file, fileSize), severity, std::string(message, messageSize)});
    }
    return findings;
}

// An owned study handle.
struct Study {
    annoxml_study* handle = annoxml_study_new();
    Study(const std::vector<std::string>& inputs) {
        for (const std::string& input : inputs) {
            EXPECT_EQ(annoxml_study_add_input(handle, input.data(), input.size(), nullptr),
                      ANNOXML_OK);
        }
    }
    ~Study() { annoxml_study_free(handle); }

    Error Dataset(const std::string& output, std::vector<Finding>* findings = nullptr) {
        annoxml_study_result* result = nullptr;
        Texts texts;
        const annoxml_status status = annoxml_WriteDataset(handle, output.data(), output.size(), 2,
                                                           &result, &texts.file, &texts.message);
        EXPECT_EQ(result != nullptr, status == ANNOXML_OK);
        if (findings) *findings = Findings(result);
        annoxml_study_result_free(result);
        return texts.With(status);
    }
};

std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        names.push_back(entry.path().lexically_relative(folder).generic_string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(DatasetBoundary, CatalogOptionsReachTheDataSet) {
    TempDir dir;
    const std::string input = WriteStudy(dir, 40);
    Study study({input});
    const std::string polyp = "polyp", Polyp = "Polyp", split = "train=0.5,val=0.5";
    ASSERT_EQ(annoxml_study_add_rename(study.handle, polyp.data(), polyp.size(), Polyp.data(),
                                       Polyp.size(), nullptr),
              ANNOXML_OK);
    ASSERT_EQ(annoxml_study_add_category(study.handle, 7, Polyp.data(), Polyp.size(), "lesion", 6,
                                         nullptr),
              ANNOXML_OK);
    ASSERT_EQ(annoxml_study_set_splits(study.handle, split.data(), split.size(), nullptr),
              ANNOXML_OK);
    annoxml_study_set_seed(study.handle, 3);
    annoxml_study_set_group_by_folder(study.handle, 1);
    annoxml_study_set_threads(study.handle, 3);
    ASSERT_EQ(study.Dataset(dir.File("c.json")).message, "");

    // Renamed labels merge into the fixed category; each folder stays in one split.
    std::map<std::string, std::string> splitOfFolder;
    std::size_t images = 0;
    for (const char* split : {"train", "val"}) {
        SCOPED_TRACE(split);
        const auto data =
            nlohmann::json::parse(ReadFile(dir.File(std::string("c_") + split + ".json")));
        EXPECT_EQ(
            data["categories"],
            nlohmann::json::parse(R"([{"id": 7, "name": "Polyp", "supercategory": "lesion"}])"));
        EXPECT_FALSE(data["images"].empty());
        images += data["images"].size();
        for (const auto& image : data["images"]) {
            const std::string folder = image["file_name"].get<std::string>().substr(0, 1);
            EXPECT_EQ(splitOfFolder.emplace(folder, split).first->second, split) << folder;
        }
        for (const auto& annotation : data["annotations"]) EXPECT_EQ(annotation["category_id"], 7);
    }
    EXPECT_EQ(images, 40u);
    EXPECT_EQ(splitOfFolder.size(), 4u);
}

TEST(DatasetBoundary, CheckFindingsInCheckOrder) {
    TempDir dir;
    const std::string ok = dir.Write("ok.xml", Frame("ok.png", "Polyp", 1));
    const std::string outside = dir.Write("outside.xml", Frame("o.png", "Polyp", 26));
    const std::string unknown = dir.Write("unknown.xml", Frame("u.png", "Polpy", 1));
    const std::string broken = dir.Write("broken.xml", "<Annotation>");
    const std::string copy = dir.Write("copy.xml", Frame("ok.png", "Polyp", 1));
    Study study({ok, outside, unknown, broken, copy});
    annoxml_study_result* result = nullptr;
    Texts texts;
    ASSERT_EQ(annoxml_CheckStudy(study.handle, &result, &texts.file, &texts.message), ANNOXML_OK);
    std::size_t converted = 0, failed = 0, errors = 0, warnings = 0;
    annoxml_study_result_counts(result, &converted, &failed, &errors, &warnings);
    EXPECT_EQ(converted, 2u);
    EXPECT_EQ(failed, 3u);
    EXPECT_EQ(errors, 3u);
    EXPECT_EQ(warnings, 1u);
    const std::vector<Finding> expected = {
        {outside, ANNOXML_SEVERITY_WARNING,
         "Rectangle with Index 1: partly outside the 30x20 image"},
        {unknown, ANNOXML_SEVERITY_ERROR,
         "Rectangle with Index 1: label \"Polpy\" is not in the label list"},
        {broken, ANNOXML_SEVERITY_ERROR, "Failed to load xml file: Start-end tags mismatch"},
    };
    std::vector<Finding> found = Findings(result);
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(std::vector<Finding>(found.begin(), found.begin() + 3), expected);
    EXPECT_EQ(found[3].file, copy);
    EXPECT_NE(found[3].message.find(ok), std::string::npos) << found[3].message;
    annoxml_study_result_free(result);
}

TEST(DatasetBoundary, AFailedFileStopsTheRunUnlessItKeepsGoing) {
    TempDir dir;
    const std::string input = WriteStudy(dir, 6);
    const std::string bad = dir.Write("in/a/bad.xml", Frame("bad.png", "Polpy", 1));
    const std::string output = dir.File("out.json");
    {
        Study study({input});
        const Error error = study.Dataset(output);
        EXPECT_EQ(error.status, ANNOXML_RUNTIME_ERROR);
        EXPECT_EQ(error.file, bad);
        EXPECT_EQ(error.message,
                  "Rectangle with Index 1: label \"Polpy\" is not in the label list");
        EXPECT_FALSE(std::filesystem::exists(output));
    }
    Study study({input});
    annoxml_study_set_keep_going(study.handle, 1);
    std::vector<Finding> findings;
    EXPECT_EQ(study.Dataset(output, &findings).status, ANNOXML_OK);
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].file, bad);
    EXPECT_NE(ReadFile(output).find("\"file_name\": \"b/1.png\""), std::string::npos);
}

struct CancelAfter {
    annoxml_study* study;
    std::size_t after;
    std::vector<std::pair<std::size_t, std::size_t>> calls;
};

void Progress(void* context, size_t done, size_t total) {
    auto* cancel = static_cast<CancelAfter*>(context);
    cancel->calls.emplace_back(done, total);
    if (done == cancel->after) annoxml_study_cancel(cancel->study);
}

TEST(DatasetBoundary, ProgressAndCancellationLeaveNoOutput) {
    TempDir dir;
    const std::string input = WriteStudy(dir, 64);
    const std::vector<std::string> before = FolderEntries(dir.path());
    const std::string out = dir.File("out");
    const char labels[] = "PolypUlcer";
    const std::size_t labelSizes[] = {5, 5};
    const struct {
        const char* name;
        std::function<annoxml_status(annoxml_study*, annoxml_study_result**, Texts&)> run;
    } operations[] = {
        {"dataset",
         [&](annoxml_study* s, annoxml_study_result** r, Texts& t) {
             return annoxml_WriteDataset(s, out.data(), out.size(), -1, r, &t.file, &t.message);
         }},
        {"masks",
         [&](annoxml_study* s, annoxml_study_result** r, Texts& t) {
             return annoxml_WriteMasks(s, out.data(), out.size(), 1, labels, labelSizes, 2, 0, r,
                                       &t.file, &t.message);
         }},
        {"yolo",
         [&](annoxml_study* s, annoxml_study_result** r, Texts& t) {
             return annoxml_WriteYolo(s, out.data(), out.size(), 1, nullptr, 0, 0, 0, r, &t.file,
                                      &t.message);
         }},
        {"check", [](annoxml_study* s, annoxml_study_result** r,
                     Texts& t) { return annoxml_CheckStudy(s, r, &t.file, &t.message); }},
    };
    for (const auto& operation : operations) {
        SCOPED_TRACE(operation.name);
        for (const std::size_t after : {std::size_t{1}, SIZE_MAX}) {
            Study study({input});
            annoxml_study_set_threads(study.handle, 4);
            CancelAfter cancel{study.handle, after, {}};
            annoxml_study_set_progress(study.handle, &Progress, &cancel);
            annoxml_study_result* result = nullptr;
            Texts texts;
            const annoxml_status status = operation.run(study.handle, &result, texts);
            annoxml_study_result_free(result);
            ASSERT_FALSE(cancel.calls.empty());
            EXPECT_EQ(cancel.calls.front(), std::make_pair(std::size_t{0}, std::size_t{64}));
            if (after == 1) {
                EXPECT_EQ(status, ANNOXML_CANCELLED);
                EXPECT_EQ(result, nullptr);
                EXPECT_EQ(FolderEntries(dir.path()), before);
                continue;
            }
            EXPECT_EQ(status, ANNOXML_OK) << texts.message;
            EXPECT_EQ(cancel.calls.back(), std::make_pair(std::size_t{64}, std::size_t{64}));
            EXPECT_EQ(cancel.calls.size(), 65u);
            std::filesystem::remove_all(out);
        }
    }
}

TEST(DatasetBoundary, BadOptionsFailWithTheirMessages) {
    TempDir dir;
    const std::string input = WriteStudy(dir, 2);
    Study study({input});
    Texts split;
    const std::string splits = "train=0.5,val=0.4";
    EXPECT_EQ(split
                  .With(annoxml_study_set_splits(study.handle, splits.data(), splits.size(),
                                                 &split.message))
                  .message,
              "the shares add up to 0.900000, not 1");
    Texts rename;
    EXPECT_EQ(annoxml_study_add_rename(study.handle, "", 0, "x", 1, &rename.message),
              ANNOXML_INVALID_ARGUMENT);
    EXPECT_EQ(std::string(rename.message), "\"=x\" is not OLD=NEW");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(annoxml_study_add_category(study.handle, 1, "Polyp", 5, nullptr, 0, nullptr),
                  ANNOXML_OK);
    }
    const Error repeated = study.Dataset(dir.File("never.json"));
    EXPECT_EQ(repeated.status, ANNOXML_RUNTIME_ERROR);
    EXPECT_EQ(repeated.file, "");
    EXPECT_FALSE(repeated.message.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.File("never.json")));

    Study fresh({input});
    const Error unwritable = fresh.Dataset(dir.File("no/such/folder/x.json"));
    EXPECT_EQ(unwritable.status, ANNOXML_RUNTIME_ERROR);
    EXPECT_EQ(unwritable.file, dir.File("no/such/folder/x.json"));
    EXPECT_EQ(annoxml_WriteDataset(nullptr, "x", 1, -1, nullptr, nullptr, nullptr),
              ANNOXML_INVALID_ARGUMENT);
}

}  // namespace
