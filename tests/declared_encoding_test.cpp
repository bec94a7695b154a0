// Documents that declare an encoding other than UTF-8, UTF-16, UTF-32 or ISO-8859-1 are read
// through a conversion to UTF-8, by every reading function, the conversion and the path forms.
#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "annoxml/annoxml.h"
#include "test_xml.h"

using annoxml::test::Capture;
using annoxml::test::ReadFile;
using annoxml::test::TempDir;

namespace {

// A document declaring `encoding` whose file name, user and label are the raw bytes `name`.
std::string Document(const std::string& declaration, const std::string& name) {
    return declaration + "\n<Annotation><ImageInformation><FileName>" + name +
           "</FileName></ImageInformation><User UserID=\"" + name +
           "\" Time=\"t\"/><LabelList><Label LabelType=\"" + name +
           "\"/></LabelList><Polygon Label=\"" + name +
           "\"><Point>1,2</Point><Point>3,4</Point></Polygon></Annotation>";
}

std::string Declaring(const std::string& encoding) {
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>";
}

std::string LoadError(const std::string& path) {
    try {
        Capture(std::cout, [&] { LoadXml(path); });
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

// The encoded bytes were made by an independent codec; the expected texts are this file's UTF-8.
const struct {
    const char* encoding;
    const char* encoded;
    const char* text;
} kEncoded[] = {
    {"windows-1252", "\x8C\x64\xE8\x6D\x65", "Œdème"},
    {"Shift_JIS", "\x83\x7C\x83\x8A\x81\x5B\x83\x76", "ポリープ"},
    {"GB18030", "\xCF\xA2\xC8\xE2\x95\x32\x82\x36", "息肉𠀀"},
    {"EUC-KR", "\xBF\xEB\xC1\xBE", "용종"},
    {"EUC-JP", "\xC4\xD9\xE1\xE7", "潰瘍"},
    {"ISO-8859-2", "\xA3\xF3\x64\xBC", "Łódź"},
    {"ISO-8859-15", "\xA4\xBC", "€Œ"},
    {"ISO-2022-JP", "\x1B\x24\x42\x44\x59\x61\x67\x1B\x28\x42", "潰瘍"},  // stateful
    {"cp1251", "\xCF\xEE\xEB\xE8\xEF", "Полип"},
    {"iso8859-1", "\xE9", "é"},  // an alias the parser itself does not know
    {"WINDOWS-1252", "\x80", "€"},
};

TEST(DeclaredEncoding, EveryReaderGetsUtf8) {
    for (const auto& c : kEncoded) {
        SCOPED_TRACE(c.encoding);
        TempDir dir;
        const std::string path = dir.Write("in.xml", Document(Declaring(c.encoding), c.encoded));
        Capture(std::cout, [&] {
            EXPECT_EQ(ParseImageInformation(path).at("file_name"), c.text);
            EXPECT_EQ(ParseUserInformation(path).at("user_id"), c.text);
            EXPECT_EQ(ParseLabelList(path).at(0).at("LabelType"), c.text);
            EXPECT_EQ(ParsePolygonAnnotations(path).at(0).at("label"), c.text);
            EXPECT_EQ(GetAllAnnotations(path).at("Polygon").at(0).at("label"), c.text);
            const pugi::xml_document doc = LoadXml(path);
            EXPECT_EQ(ParseLabelList(doc).at(0).at("LabelType"), c.text);
        });
    }
}

TEST(DeclaredEncoding, ConversionWritesUtf8) {
    for (const auto& c : kEncoded) {
        SCOPED_TRACE(c.encoding);
        TempDir dir;
        const std::string path = dir.Write("in.xml", Document(Declaring(c.encoding), c.encoded));
        const std::string output = dir.File("out.json");
        Capture(std::cout, [&] { GenerateCOCOJson(path, output); });
        const std::string json = ReadFile(output);
        EXPECT_THAT(json, testing::HasSubstr(std::string("\"name\": \"") + c.text + "\""));
        EXPECT_THAT(json, testing::HasSubstr(std::string("\"file_name\": \"") + c.text + "\""));
    }
}

// What the parser decodes itself, and documents whose declaration does not count, read as before.
TEST(DeclaredEncoding, ParserEncodingsAndMisplacedDeclarationsReadAsBefore) {
    const struct {
        const char* name;
        std::string document;
        const char* fileName;
    } cases[] = {
        {"UTF-8", Document(Declaring("UTF-8"), "\xC3\xA9"), "é"},
        {"utf8", Document(Declaring("utf8"), "\xC3\xA9"), "é"},
        {"ISO-8859-1", Document(Declaring("ISO-8859-1"), "\xE9"), "é"},
        {"latin1", Document(Declaring("latin1"), "\xE9"), "é"},
        {"us-ascii", Document(Declaring("us-ascii"), "\xC3\xA9"), "é"},
        {"no declaration", Document("", "\xC3\xA9"), "é"},
        {"declaration without encoding", Document("<?xml version=\"1.0\"?>", "\xC3\xA9"), "é"},
        {"byte order mark wins", "\xEF\xBB\xBF" + Document(Declaring("Shift_JIS"), "\xC3\xA9"),
         "é"},
        {"single quotes and spaces",
         Document("<?xml version='1.0' encoding = 'windows-1252' ?>", "\xE9"), "é"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.Write("in.xml", c.document);
        Capture(std::cout,
                [&] { EXPECT_EQ(ParseImageInformation(path).at("file_name"), c.fileName); });
    }
}

TEST(DeclaredEncoding, FailuresNameTheEncoding) {
    const struct {
        const char* name;
        std::string document;
        std::string message;
    } cases[] = {
        {"unknown encoding", Document(Declaring("x-no-such-thing"), "a"),
         "unsupported encoding x-no-such-thing"},
        {"byte without a character", Document(Declaring("windows-1252"), "\x81"),
         "invalid windows-1252 byte 0x81 at offset " +
             std::to_string(Document(Declaring("windows-1252"), "\x81").find('\x81'))},
        {"text cut inside a character", Declaring("Shift_JIS") + "<a>\x83",
         "text ends inside a Shift_JIS character"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.Write("in.xml", c.document);
        EXPECT_EQ(LoadError(path), "Failed to load xml file: " + c.message);
    }
}

}  // namespace
