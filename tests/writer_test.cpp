#include <filesystem>
#include <stdexcept>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "annoxml/annoxml.h"
#include "coco_fixture.h"

using annoxml::test::Capture;
using annoxml::test::Convert;
using annoxml::test::ReadFile;
using annoxml::test::TempDir;
using annoxml::test::WithHeader;
using Json = nlohmann::ordered_json;
using testing::HasSubstr;

namespace {

std::vector<std::string> KeysOf(const Json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    return keys;
}

std::vector<std::string> FilesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(GenerateCOCOJson, DocumentLayout) {
    const Json coco = Convert(WithHeader(""));
    EXPECT_EQ(KeysOf(coco), (std::vector<std::string>{"info", "license", "images", "categories",
                                                      "masks", "annotations"}));
    EXPECT_EQ(KeysOf(coco["info"]),
              (std::vector<std::string>{"description", "url", "year", "version", "contributor",
                                        "date_created"}));
    EXPECT_THAT(coco["info"]["description"].get<std::string>(), HasSubstr("Quillmore"));
    EXPECT_THAT(coco["info"]["description"].get<std::string>(), HasSubstr("COCO"));
    EXPECT_EQ(coco["info"]["year"], GetCurrentYear());
    EXPECT_EQ(coco["info"]["date_created"], GetCurrentDateFormatted());
    EXPECT_EQ(coco["info"]["contributor"], "Quillmore");
    EXPECT_EQ(coco["info"]["version"], "1.0");
    EXPECT_EQ(coco["license"].dump(), R"({"id":null,"name":null,"url":null})");
    EXPECT_EQ(coco["images"].dump(),
              R"({"id":1,"height":"480","width":"640","file_name":"img.png","license":null,)"
              R"("flickr_url":null,"coco_url":null,"date_captured":"t"})");
    EXPECT_EQ(
        coco["categories"].dump(),
        R"([{"id":1,"name":"Polyp","supercategory":""},{"id":2,"name":"Ulcer","supercategory":""}])");
    EXPECT_EQ(coco["masks"], Json::array());
    EXPECT_EQ(coco["annotations"], Json::array());
}

TEST(GenerateCOCOJson, MissingHeaderValuesAreEmptyTexts) {
    const Json coco = Convert("<A><User/></A>");
    EXPECT_EQ(coco["images"].dump(),
              R"({"id":1,"height":"","width":"","file_name":"","license":null,)"
              R"("flickr_url":null,"coco_url":null,"date_captured":""})");
    EXPECT_EQ(coco["categories"], Json::array());
}

TEST(GenerateCOCOJson, RepeatedAndUnnamedLabels) {
    const Json coco =
        Convert(R"(<A><User/><LabelList><Label LabelType="Polyp"/><Label LabelDetail="x"/>
        <Label LabelType="Polyp"/></LabelList>
        <Polygon Label="Polyp"><Point>1,2</Point></Polygon><Polygon><Point>1,2</Point></Polygon></A>)");
    EXPECT_EQ(
        coco["categories"].dump(),
        R"([{"id":1,"name":"Polyp","supercategory":""},{"id":2,"name":"","supercategory":""},)"
        R"({"id":3,"name":"Polyp","supercategory":""}])");
    EXPECT_EQ(coco["annotations"][0]["category_id"], 3);
    EXPECT_EQ(coco["annotations"][1]["category_id"], 2);
}

TEST(GenerateCOCOJson, TextFormIndentedRawUtf8WithoutFinalNewline) {
    TempDir dir;
    const std::string input = dir.Write(
        "in.xml", WithHeader(R"(<Mask Index="1" Description="Œdème"/>)", "Blutung,Œdème"));
    const std::string output = dir.File("out.json");
    const std::string echoed = Capture(std::cout, [&] { GenerateCOCOJson(input, output); });
    EXPECT_EQ(echoed, input);
    const std::string text = ReadFile(output);
    EXPECT_EQ(text.substr(0, 15), "{\n    \"info\": {");
    EXPECT_EQ(text.back(), '}');
    EXPECT_THAT(text, HasSubstr("\n            \"name\": \"Œdème\","));
    EXPECT_THAT(text, HasSubstr("\"height\": \"480\""));
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"in.xml", "out.json"}));
}

// A failed conversion leaves an existing output as it was and no temporary file beside it.
TEST(GenerateCOCOJson, FailureLeavesTheOldOutput) {
    const struct {
        const char* name;
        std::string xml;
    } cases[] = {
        {"not well-formed", "<A><User></A>"},
        {"no user", "<A/>"},
        {"unknown label", WithHeader(R"(<Polygon Label="x"><Point>1,2</Point></Polygon>)")},
        {"invalid UTF-8", WithHeader("<Mask Description=\"\xff\xfe\"/>")},
        {"too few coordinates",
         WithHeader(R"(<Rectangle Label="Polyp"><Point>1,2</Point></Rectangle>)")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string input = dir.Write("in.xml", c.xml);
        const std::string output = dir.Write("out.json", "previous");
        EXPECT_ANY_THROW(Capture(std::cout, [&] { GenerateCOCOJson(input, output); }));
        EXPECT_EQ(ReadFile(output), "previous");
        EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"in.xml", "out.json"}));
    }
}

TEST(GenerateCOCOJson, UnwritableOutputIsAnErrorNamingThePath) {
    TempDir dir;
    const std::string input = dir.Write("in.xml", WithHeader(""));
    std::filesystem::create_directory(dir.File("folder"));
    const struct {
        std::string output;
        const char* reason;
    } cases[] = {
        {dir.File("missing/out.json"), "No such file or directory"},
        {dir.File("in.xml/out.json"), "Not a directory"},
        {dir.File("folder"), "Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        try {
            Capture(std::cout, [&] { GenerateCOCOJson(input, c.output); });
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& error) {
            EXPECT_THAT(error.what(), HasSubstr(c.output));
            EXPECT_THAT(error.what(), HasSubstr(c.reason));
        }
    }
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"folder", "in.xml"}));
}

TEST(GenerateCOCOJson, ReplacesAnExistingOutput) {
    TempDir dir;
    const std::string input = dir.Write("in.xml", WithHeader(""));
    const std::string output = dir.Write("out.json", std::string(100000, 'x'));
    Capture(std::cout, [&] { GenerateCOCOJson(input, output); });
    EXPECT_EQ(Json::parse(ReadFile(output))["images"]["width"], "640");
}

// Conversions of different files on different threads give what sequential runs give.
TEST(GenerateCOCOJson, ConcurrentConversionsDoNotInterfere) {
    TempDir dir;
    const int kFiles = 8;
    std::vector<std::string> inputs;
    for (int i = 0; i < kFiles; ++i) {
        // Each file names the same labels in a different order, so a mixed-up table shows.
        const std::string labels =
            i % 2 ? "Polyp,Ulcer,L" + std::to_string(i) : "L" + std::to_string(i) + ",Ulcer,Polyp";
        std::string body;
        for (int s = 0; s < 200; ++s) {
            body += "<Polygon Label=\"" + std::string(s % 2 ? "Polyp" : "Ulcer") + "\"><Point>" +
                    std::to_string(s) + ",1</Point></Polygon>";
        }
        inputs.push_back(dir.Write("in" + std::to_string(i) + ".xml", WithHeader(body, labels)));
    }
    const auto outputOf = [&](int i, const char* run) {
        return dir.File(std::string(run) + std::to_string(i) + ".json");
    };
    Capture(std::cout, [&] {
        for (int i = 0; i < kFiles; ++i) GenerateCOCOJson(inputs[i], outputOf(i, "seq"));
        std::vector<std::thread> threads;
        for (int i = 0; i < kFiles; ++i) {
            threads.emplace_back([&, i] {
                for (int repeat = 0; repeat < 5; ++repeat) {
                    GenerateCOCOJson(inputs[i], outputOf(i, "par"));
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
    });
    for (int i = 0; i < kFiles; ++i) {
        EXPECT_EQ(ReadFile(outputOf(i, "par")), ReadFile(outputOf(i, "seq"))) << inputs[i];
    }
}

}  // namespace
