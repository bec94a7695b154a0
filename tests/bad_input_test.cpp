// Files that are not what they should be: each gives a clear error or a sound result, never a
// crash, a hang, an expansion or a read of another file.
#include <filesystem>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "annoxml/annoxml.h"
#include "test_xml.h"

using annoxml::test::Capture;
using annoxml::test::TempDir;

namespace {

const std::string kDocument = "<Annotation><User UserID=\"u1\" Time=\"t\"/></Annotation>";

// The UTF-16 or UTF-32 form of an ASCII text, with the given byte order mark.
std::string Widened(const std::string& text, int width, bool bigEndian) {
    std::string wide;
    for (const char c : text) {
        std::string unit(width, '\0');
        unit[bigEndian ? width - 1 : 0] = c;
        wide += unit;
    }
    return wide;
}

std::string WithBom(const std::string& text, int width, bool bigEndian) {
    const std::string bom =
        width == 2 ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE")
                   : (bigEndian ? std::string("\0\0\xFE\xFF", 4) : std::string("\xFF\xFE\0\0", 4));
    return bom + Widened(text, width, bigEndian);
}

std::string Nested(int depth, const std::string& inner) {
    std::string text;
    text.reserve(static_cast<std::size_t>(depth) * 7 + inner.size());
    for (int i = 0; i < depth; ++i) text += "<a>";
    text += inner;
    for (int i = 0; i < depth; ++i) text += "</a>";
    return text;
}

std::string EntityBomb() {
    std::string entities = "<!ENTITY lol0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        entities += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) entities += "&lol" + std::to_string(i - 1) + ";";
        entities += "\">";
    }
    return "<?xml version=\"1.0\"?><!DOCTYPE Annotation [" + entities +
           "]><Annotation><User UserID=\"&lol9;\" Time=\"t\"/></Annotation>";
}

// The user section's user_id, or the error text.
std::string UserIdOrError(const std::string& path) {
    try {
        std::string id;
        Capture(std::cout, [&] { id = ParseUserInformation(path).at("user_id"); });
        return id;
    } catch (const std::runtime_error& error) {
        return std::string("error: ") + error.what();
    }
}

TEST(BadInput, EachGivesAClearErrorOrASoundResult) {
    TempDir dir;
    const std::string secret = dir.Write("secret.txt", "not for reading");
    const std::string big(10'000'000, 'x');
    const std::string utf16 = WithBom(kDocument, 2, false);
    const struct {
        const char* name;
        std::string content;
        std::string expected;
    } cases[] = {
        {"empty file", "", "error: Failed to load xml file: No document element found"},
        {"binary garbage", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\x01\x02", 18),
         "error: Failed to load xml file: No document element found"},
        {"NUL byte in an attribute",
         std::string("<Annotation><User UserID=\"a\0b\" Time=\"t\"/></Annotation>", 52),
         "error: Failed to load xml file: Error parsing element attribute"},
        {"NUL byte between elements",
         std::string("<Annotation>\0<User UserID=\"u\"/></Annotation>", 44),
         "error: Failed to load xml file: Start-end tags mismatch"},
        {"100,000-deep nesting", Nested(100000, "<User UserID=\"deep\" Time=\"t\"/>"), "deep"},
        {"10 MB attribute", "<Annotation><User UserID=\"" + big + "\"/></Annotation>", big},
        {"external entity stays literal",
         "<?xml version=\"1.0\"?><!DOCTYPE Annotation [<!ENTITY ext SYSTEM \"file://" + secret +
             "\">]><Annotation><User UserID=\"&ext;\" Time=\"t\"/></Annotation>",
         "&ext;"},
        {"entity-expansion bomb stays literal", EntityBomb(), "&lol9;"},
        {"UTF-8 byte order mark", "\xEF\xBB\xBF" + kDocument, "u1"},
        {"UTF-16 LE byte order mark", utf16, "u1"},
        {"UTF-16 BE byte order mark", WithBom(kDocument, 2, true), "u1"},
        {"UTF-32 LE byte order mark", WithBom(kDocument, 4, false), "u1"},
        {"UTF-32 BE byte order mark", WithBom(kDocument, 4, true), "u1"},
        {"UTF-16 without byte order mark", Widened(kDocument, 2, false), "u1"},
        {"UTF-16 cut inside a character", utf16.substr(0, utf16.size() - 3),
         "error: Failed to load xml file: Start-end tags mismatch"},
        {"UTF-16 cut inside an attribute", utf16.substr(0, 41),
         "error: Failed to load xml file: Error parsing element attribute"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Write("in.xml", c.content);
        const std::string result = UserIdOrError(path);
        EXPECT_EQ(result.size(), c.expected.size());
        EXPECT_TRUE(result == c.expected) << result.substr(0, 200);
    }
}

TEST(BadInput, ADirectoryIsReportedAsSuch) {
    TempDir dir;
    EXPECT_EQ(UserIdOrError(dir.path().string()), "error: Failed to load xml file: Is a directory");
}

TEST(BadInput, DeepNestingConvertsWithoutOverflow) {
    TempDir dir;
    const std::string path =
        dir.Write("deep.xml", Nested(100000,
                                     "<User UserID=\"u\" Time=\"t\"/><LabelList><Label "
                                     "LabelType=\"P\"/></LabelList><Polygon Label=\"P\">"
                                     "<Point>1,2</Point></Polygon>"));
    const std::string output = dir.File("deep.json");
    Capture(std::cout, [&] { GenerateCOCOJson(path, output); });
    EXPECT_TRUE(std::filesystem::exists(output));
    const AnnotationTable table = [&] {
        AnnotationTable result;
        Capture(std::cout, [&] { result = GetAllAnnotations(path); });
        return result;
    }();
    EXPECT_EQ(table.at("Polygon").size(), 1u);
}

}  // namespace
