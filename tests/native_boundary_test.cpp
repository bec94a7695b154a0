// The C boundary used by the .NET façade: results, error kinds and texts, and release.
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "annoxml_native.h"
#include "coco_fixture.h"

using annoxml::test::Capture;
using annoxml::test::TempDir;
using annoxml::test::WithHeader;

namespace {

struct Outcome {
    annoxml_status status;
    std::string message;
};

template <typename Call>
Outcome CallNative(Call call) {
    char* message = nullptr;
    annoxml_status status = ANNOXML_OK;
    Capture(std::cout, [&] { status = call(&message); });
    Outcome outcome{status, message ? message : ""};
    annoxml_error_message_free(message);
    return outcome;
}

TEST(NativeBoundary, ErrorKindsAndTexts) {
    TempDir dir;
    const std::string missing = dir.File("missing.xml");
    const std::string noUser = dir.Write("no-user.xml", "<A/>");
    const std::string badLabel =
        dir.Write("label.xml", WithHeader(R"(<Polygon Label="x"><Point>1,2</Point></Polygon>)"));
    const std::string good = dir.Write("good.xml", WithHeader(""));
    const std::string unwritable = dir.File("no/such/folder.json");
    const auto convert = [](const std::string& in, const std::string& out) {
        return [in, out](char** message) {
            return annoxml_GenerateCOCOJson(in.data(), in.size(), out.data(), out.size(), message);
        };
    };
    const struct {
        const char* name;
        std::function<annoxml_status(char**)> call;
        annoxml_status status;
        std::string message;
    } cases[] = {
        {"missing file",
         [&](char** m) {
             annoxml_field_map_list* list = nullptr;
             const annoxml_status s = annoxml_ParseMask(missing.data(), missing.size(), &list, m);
             EXPECT_EQ(list, nullptr);
             return s;
         },
         ANNOXML_RUNTIME_ERROR, "Failed to load xml file: File was not found"},
        {"no user",
         [&](char** m) {
             annoxml_field_map* map = nullptr;
             return annoxml_ParseUserInformation(noUser.data(), noUser.size(), &map, m);
         },
         ANNOXML_RUNTIME_ERROR, "Invalid xml format"},
        {"unknown label", convert(badLabel, dir.File("out.json")), ANNOXML_OUT_OF_RANGE,
         "invalid map<K, T> key"},
        {"unwritable output", convert(good, unwritable), ANNOXML_RUNTIME_ERROR,
         "Cannot write " + unwritable + ": No such file or directory"},
        {"null path", [](char** m) { return annoxml_GenerateCOCOJson(nullptr, 0, "x", 1, m); },
         ANNOXML_INVALID_ARGUMENT, "annoxml: a path argument is NULL"},
        {"converted", convert(good, dir.File("good.json")), ANNOXML_OK, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = CallNative(c.call);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.message, c.message);
    }
}

TEST(NativeBoundary, TableEntriesInKeyOrder) {
    TempDir dir;
    const std::string path = dir.Write(
        "f.xml",
        R"(<A><Mask Index="7"><Rectangle Index="1" Label="é"><Point>1,2</Point></Rectangle></Mask></A>)");
    annoxml_annotation_table* table = nullptr;
    ASSERT_EQ(CallNative([&](char** m) {
                  return annoxml_GetAllAnnotations(path.data(), path.size(), &table, m);
              }).status,
              ANNOXML_OK);
    ASSERT_EQ(annoxml_annotation_table_size(table), 15u);

    const char* kind = nullptr;
    size_t kindSize = 0;
    const annoxml_field_map_list* list = nullptr;
    annoxml_annotation_table_entry(table, 12, &kind, &kindSize, &list);
    EXPECT_EQ(std::string(kind, kindSize), "Rectangle");
    ASSERT_EQ(annoxml_field_map_list_size(list), 1u);
    const annoxml_field_map* map = annoxml_field_map_list_at(list, 0);
    std::string keys;
    for (size_t i = 0; i < annoxml_field_map_size(map); ++i) {
        const char* key = nullptr;
        const char* value = nullptr;
        size_t keySize = 0;
        size_t valueSize = 0;
        annoxml_field_map_entry(map, i, &key, &keySize, &value, &valueSize);
        keys += std::string(key, keySize) + "=" + std::string(value, valueSize) + ";";
    }
    EXPECT_EQ(keys, "center=;color=;description=;index=1;label=é;mask_id=7;points=1,2;");

    annoxml_annotation_table_entry(table, 15, &kind, &kindSize, &list);
    EXPECT_EQ(kind, nullptr);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(annoxml_field_map_list_at(list, 0), nullptr);
    annoxml_annotation_table_free(table);
    annoxml_annotation_table_free(nullptr);
}

}  // namespace
