// What differs between the systems behind src/platform: numbers read as strtod reads them in the
// "C" locale, UTF-8 paths beyond ASCII, and files replaced in one step. The same expectations hold
// on Linux and on Windows.
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "annoxml/annoxml.h"
#include "platform/platform.h"
#include "test_xml.h"
#include "util/atomic_file.h"

using annoxml::test::Capture;
using annoxml::test::TempDir;

namespace {

namespace fs = std::filesystem;

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(PlatformReadDouble, ReadsAsStrtodInTheCLocale) {
    const struct {
        const char* text;
        double value;  // when in range
        int used;      // characters read, 0 when none
        bool outOfRange;
    } cases[] = {
        {"12.5", 12.5, 4, false},
        {"  \t\n\v\f\r-3", -3, 9, false},
        {"+4", 4, 2, false},
        {"-0", -0.0, 2, false},
        {".5", 0.5, 2, false},
        {"5.", 5, 2, false},
        {"1e3x", 1000, 3, false},
        {"1e", 1, 1, false},
        {"1e+", 1, 1, false},
        {"2E-2", 0.02, 4, false},
        {"0.1", 0.1, 3, false},
        {"2.675", 2.675, 5, false},
        {"123456789012345678901234567890", 123456789012345678901234567890.0, 30, false},
        {"0x10", 16, 4, false},
        {"0X1p3", 8, 5, false},
        {"-0x.8", -0.5, 5, false},
        {"0x", 0, 1, false},
        {"0xg", 0, 1, false},
        {"0x-1", 0, 1, false},
        {"0x+1", 0, 1, false},
        {"inf", kInf, 3, false},
        {"-Infinity", -kInf, 9, false},
        {"infinit", kInf, 3, false},
        {"2.2250738585072014e-308", 2.2250738585072014e-308, 23, false},
        {"1.7976931348623157e308", 1.7976931348623157e308, 22, false},
        {"1e400", 0, 5, true},
        {"-1e400", 0, 6, true},
        {"1e-400", 0, 6, true},
        {"1e-310", 0, 6, true},  // a subnormal result counts as an underflow
        {"", 0, 0, false},
        {"x", 0, 0, false},
        {".", 0, 0, false},
        {"-", 0, 0, false},
        {"+-1", 0, 0, false},
        {"--1", 0, 0, false},
        {"e5", 0, 0, false},
        {" ", 0, 0, false},
        {"1,5", 1, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        char* end = nullptr;
        errno = 0;
        const double value = annoxml::platform::ReadDouble(c.text, &end);
        EXPECT_EQ(end - c.text, c.used);
        EXPECT_EQ(errno == ERANGE, c.outOfRange);
        if (!c.outOfRange) {
            EXPECT_EQ(std::memcmp(&value, &c.value, sizeof value), 0) << value;
        }
    }
}

TEST(PlatformReadDouble, NotANumber) {
    for (const char* text : {"nan", "NaN", "nan(123)", "-nan"}) {
        SCOPED_TRACE(text);
        char* end = nullptr;
        errno = 0;
        EXPECT_TRUE(std::isnan(annoxml::platform::ReadDouble(text, &end)));
        EXPECT_EQ(end - text, static_cast<std::ptrdiff_t>(std::strlen(text)));
        EXPECT_EQ(errno, 0);
    }
}

const std::string kDocument =
    "<Annotation><ImageInformation><FileName>ポリープ.png</FileName><Height>4</Height>"
    "<Width>6</Width></ImageInformation><User UserID=\"u\" Time=\"t\"/><LabelList>"
    "<Label LabelType=\"Polyp\"/></LabelList><Polygon Label=\"Polyp\"><Point>1,2</Point>"
    "<Point>3,4</Point></Polygon></Annotation>";

// A UTF-8 path inside `dir`; its folder is made too.
std::string Utf8Path(const TempDir& dir, const std::string& folder, const std::string& name) {
    const fs::path folderPath = dir.path() / fs::u8path(folder);
    fs::create_directories(folderPath);
    return (folderPath / fs::u8path(name)).u8string();
}

void WriteUtf8Path(const std::string& path, const std::string& content) {
    std::ofstream(fs::u8path(path), std::ios::binary) << content;
}

std::string ReadUtf8Path(const std::string& path) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(PlatformPaths, NonAsciiPathsReadAndWrite) {
    TempDir dir;
    const std::string input = Utf8Path(dir, "Étude ポリープ", "frame é 0142.xml");
    const std::string output = Utf8Path(dir, "出力 ü", "frame é 0142.json");
    WriteUtf8Path(input, kDocument);
    Capture(std::cout, [&] {
        EXPECT_EQ(ParseImageInformation(input).at("file_name"), "ポリープ.png");
        EXPECT_EQ(GetAllAnnotations(input).at("Polygon").size(), 1u);
        GenerateCOCOJson(input, output);
    });
    EXPECT_NE(ReadUtf8Path(output).find("\"file_name\": \"ポリープ.png\""), std::string::npos);
}

TEST(PlatformPaths, MissingNonAsciiFileIsNotFound) {
    TempDir dir;
    const std::string missing = Utf8Path(dir, "données", "absent é.xml");
    try {
        Capture(std::cout, [&] { ParseLabelList(missing); });
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Failed to load xml file: File was not found");
    }
}

TEST(PlatformPaths, StreamOpensANonAsciiPath) {
    TempDir dir;
    const std::string path = Utf8Path(dir, "détections ü", "結果.json");
    WriteUtf8Path(path, "[]");
    std::FILE* file = annoxml::platform::OpenStreamForReading(path);
    ASSERT_NE(file, nullptr);
    char text[4] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, file), 2u);
    std::fclose(file);
    EXPECT_STREQ(text, "[]");
    EXPECT_EQ(annoxml::platform::OpenStreamForReading(path + ".absent"), nullptr);
}

// Windows' file systems ignore case, so names that differ only in case are one file there.
TEST(PlatformPaths, FileNameKeyFoldsCaseOnlyOnWindows) {
    using annoxml::platform::FileNameKey;
    const std::string lower = "séance 1/frame-é.png";
    const std::string upper = "SÉANCE 1/FRAME-É.png";
#ifdef _WIN32
    EXPECT_EQ(FileNameKey(lower), FileNameKey(upper));
#else
    EXPECT_EQ(FileNameKey(lower), lower);
    EXPECT_NE(FileNameKey(lower), FileNameKey(upper));
#endif
    EXPECT_NE(FileNameKey(lower), FileNameKey("séance 1/frame-e.png"));
}

// One object per thread (a thread's scratch buffers), destroyed when its thread ends: what
// thread_local gives, which the Windows build cannot use for objects with destructors.
std::atomic<int> countedAlive{0};

struct Counted {
    Counted() { ++countedAlive; }
    ~Counted() { --countedAlive; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    int value = 0;
};

Counted& ThisThreadsCounted() {
    return annoxml::platform::PerThread<Counted>([] { return Counted(); });
}

TEST(PlatformPerThread, EachThreadHasItsOwnObjectDestroyedWhenItEnds) {
    ThisThreadsCounted().value = 1;
    const int before = countedAlive;
    for (int round = 0; round < 3; ++round) {
        std::thread([before] {
            EXPECT_EQ(ThisThreadsCounted().value, 0);
            ThisThreadsCounted().value = 2;
            EXPECT_EQ(ThisThreadsCounted().value, 2);
            EXPECT_EQ(countedAlive, before + 1);
        }).join();
        EXPECT_EQ(countedAlive, before);
    }
    EXPECT_EQ(ThisThreadsCounted().value, 1);
}

TEST(PlatformOutputFile, ReplacesAnExistingFileAndLeavesNothingElse) {
    TempDir dir;
    const std::string path = Utf8Path(dir, "sortie", "résultat.json");
    WriteUtf8Path(path, "old content that is longer than the new one");
    annoxml::detail::WriteFileAtomically(path, "new");
    EXPECT_EQ(ReadUtf8Path(path), "new");
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(fs::u8path(path).parent_path())) {
        EXPECT_EQ(entry.path().filename().u8string(), "résultat.json");
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(PlatformOutputFile, UncommittedFileLeavesThePathAsItWas) {
    TempDir dir;
    const std::string path = Utf8Path(dir, "sortie", "résultat.json");
    WriteUtf8Path(path, "old");
    {
        annoxml::detail::OutputFile file(path);
        file.Write("new");
    }
    EXPECT_EQ(ReadUtf8Path(path), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::u8path(path).parent_path()),
                            fs::directory_iterator()),
              1);
}

// Windows' C runtime has no iconv: a document in an encoding that needs converting is refused
// with a clear error there, and converted on Linux.
TEST(PlatformEncodings, DeclaredEncodingThatNeedsConverting) {
    TempDir dir;
    const std::string path =
        dir.Write("in.xml",
                  "<?xml version=\"1.0\" encoding=\"windows-1252\"?><Annotation><ImageInformation>"
                  "<FileName>\xE9.png</FileName></ImageInformation></Annotation>");
    std::string result;
    try {
        Capture(std::cout, [&] { result = ParseImageInformation(path).at("file_name"); });
    } catch (const std::runtime_error& error) {
        result = error.what();
    }
#ifdef _WIN32
    EXPECT_EQ(result, "Failed to load xml file: unsupported encoding windows-1252");
#else
    EXPECT_EQ(result, "é.png");
#endif
}

}  // namespace
