// The streaming conversion against the reference that builds an ordered_json tree and dumps it:
// same bytes, same exception (type and message), same reports on standard error, and an output
// left untouched on failure. Dates are the only values that vary; both sides run in the same
// test, so they agree.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <typeinfo>

#include <gtest/gtest.h>

#include "annoxml/annoxml.h"
#include "coco_reference.h"
#include "reader/xml_scan.h"
#include "test_xml.h"

using annoxml::test::Capture;
using annoxml::test::ReadFile;
using annoxml::test::TempDir;

namespace {

// What one conversion gave: the text written (or "untouched"), the error, the reports.
struct Outcome {
    std::string text;
    std::string error;
    std::string reports;
};

std::string Describe(const std::exception& error) {
    return std::string(typeid(error).name()) + ": " + error.what();
}

Outcome Streamed(const std::string& input, const TempDir& dir) {
    const std::string output = dir.Write("out.json", "untouched");
    Outcome outcome;
    try {
        outcome.reports = Capture(
            std::cerr, [&] { Capture(std::cout, [&] { GenerateCOCOJson(input, output); }); });
    } catch (const std::exception& error) {
        outcome.error = Describe(error);
    }
    outcome.text = ReadFile(output);
    return outcome;
}

Outcome Reference(const std::string& input) {
    Outcome outcome{"untouched", "", ""};
    try {
        Capture(std::cout, [&] {
            const pugi::xml_document doc = LoadXml(input);
            outcome.reports =
                Capture(std::cerr, [&] { outcome.text = annoxml::reference::CocoText(doc); });
        });
    } catch (const std::exception& error) {
        outcome.error = Describe(error);
    }
    return outcome;
}

// Reports are compared only for successful runs: a failing reference run's reports are lost
// with the exception that Capture passes on.
Outcome ExpectSameOutcome(const std::string& input, const std::string& name) {
    SCOPED_TRACE(name);
    TempDir dir;
    const Outcome streamed = Streamed(input, dir);
    const Outcome reference = Reference(input);
    EXPECT_EQ(streamed.error, reference.error);
    EXPECT_EQ(streamed.text, reference.text);
    if (reference.error.empty()) {
        EXPECT_EQ(streamed.reports, reference.reports);
    }
    return reference;
}

TEST(StreamedConversion, SameBytesAsTheTreeForEveryTestAndExampleFile) {
    const std::vector<std::string> files = annoxml::test::ProjectXmlFiles();
    for (const std::string& path : files) ExpectSameOutcome(path, path);
    EXPECT_GE(files.size(), 8u);
}

// Random documents of every converted kind, with masks, nesting, odd numbers, bad tokens and
// texts that need escapes or are not UTF-8.
//
// Plain documents use no references, comments or CDATA, which the conversion reads without
// building the parser's tree; their layout varies instead: white space and line ends between
// and inside elements, both kinds of quotes, tags that close themselves, repeated children.
class RandomDocument {
  public:
    explicit RandomDocument(unsigned seed, bool plain = false) : random_(seed), plain_(plain) {}

    std::string Make() {
        // Most documents are clean, so that most comparisons are of written bytes.
        oddness_ = Pick({0, 0, 0, 1, 2});
        std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>" + Space() + "<Annotation>";
        if (Chance(90)) {
            xml += Space() + "<ImageInformation>" + Space() + "<FileName>" + Text() +
                   "</FileName>" + (plain_ && Chance(30) ? "<Height" + End() : "") + "<Height>" +
                   Text() + "</Height" + Space() + "><Width>640</Width></ImageInformation>";
        }
        if (oddness_ < 2 || Chance(90)) {
            xml += Space() + "<User" + Attribute("UserID", "u") + Attribute("Time", Text()) + End();
        }
        for (int lists = plain_ ? Pick({1, 2}) : 1; lists > 0; --lists) {
            xml += Space() + "<LabelList>";
            for (const char* label : kLabels) {
                xml += Space() + "<Label" + Attribute("LabelType", Label(label)) + End();
            }
            xml += "</LabelList>";
        }
        const int shapes = Pick({0, 1, 3, 8});
        for (int i = 0; i < shapes; ++i) xml += Space() + Wrapped(Shape(i));
        return xml + Space() + "</Annotation>" + Space();
    }

  private:
    static constexpr const char* kLabels[] = {"Polyp", "Œdème", "", "a&amp;b"};

    std::string Label(const char* label) { return plain_ && label[0] == 'a' ? "a\tb" : label; }

    // Nothing in most documents; in plain ones, the white space that editors leave.
    std::string Space() {
        if (!plain_) return "";
        static const char* const kSpaces[] = {"", "\n", "\r\n  ", "\t", " \n\t "};
        return kSpaces[Pick({0, 1, 2, 3, 4})];
    }
    std::string Attribute(const char* name, const std::string& value) {
        const char quote = plain_ && Chance(30) ? '\'' : '"';
        return std::string(" ") + name + "=" + quote + value + quote;
    }
    std::string End() { return plain_ && Chance(30) ? " />" : "/>"; }

    int Pick(std::initializer_list<int> choices) {
        return choices
            .begin()[std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(random_)];
    }
    bool Chance(int percent) {
        return std::uniform_int_distribution<int>(1, 100)(random_) <= percent;
    }

    std::string Text() {
        static const char* const kTexts[] = {"plain",         "",
                                             "480",           "Œdème – ü",
                                             "tab\there",     "quote &quot; and \\",
                                             "&#1;&#31;\x7f", "line\nbreak\r",
                                             "日本語 😀"};
        static const char* const kPlainTexts[] = {"cr\r\nlf\r", " \t ", "\x7f\x01 \\"};
        static const char* const kBadTexts[] = {"\xff\xfe", "cut \xc3", "\xe2\x82"};
        if (oddness_ == 2 && Chance(15)) return kBadTexts[Pick({0, 1, 2})];
        if (plain_) {
            const int pick = Pick({0, 1, 2, 3, 4, 7, 8, 9, 10, 11});
            return pick < 9 ? kTexts[pick] : kPlainTexts[pick - 9];
        }
        return kTexts[Pick({0, 1, 2, 3, 4, 5, 6, 7, 8})];
    }

    std::string Number() {
        static const char* const kNumbers[] = {"0",
                                               "12",
                                               "-7",
                                               "0.1",
                                               "-0.0",
                                               "-0",
                                               "1e-300",
                                               "5e-324",
                                               "12.0",
                                               "3.25",
                                               "123456.789",
                                               "0.30000000000000004",
                                               "+4",
                                               ".5",
                                               "7.",
                                               "1234567890123456789",
                                               "2.2250738585072014e-308",
                                               "0.000001",
                                               "1e21",
                                               "1e22",
                                               "123456789012345",
                                               "9007199254740993",
                                               " 8",
                                               "-1e-5"};
        static const char* const kOddTokens[] = {"abc", "", "12px", "1e999", "0x1A", "nan", "inf"};
        if (oddness_ > 0 && Chance(8)) return kOddTokens[Pick({0, 1, 2, 3, 4, 5, 6})];
        // Large enough to make a size or an area overflow, so rare.
        if (Chance(2)) return Pick({0, 1}) ? "1e300" : "-1.7976931348623157e308";
        if (Chance(50)) {
            return std::to_string(std::uniform_int_distribution<int>(-2000, 2000)(random_)) +
                   (Chance(50) ? "." + std::to_string(
                                           std::uniform_int_distribution<int>(0, 99999)(random_))
                               : "");
        }
        return kNumbers[std::uniform_int_distribution<std::size_t>(
            0, std::size(kNumbers) - 1)(random_)];
    }

    std::string Point() {
        std::string text = Number() + "," + Number();
        if (oddness_ > 0 && Chance(5)) text = Pick({0, 1}) ? Number() : text + "," + Number();
        if (plain_ && Chance(10)) return "<Point>" + Space() + "<Sub" + End() + text + "</Point>";
        if (plain_ && Chance(3)) return "<Point>" + Space() + "</Point>" + Space();
        return "<Point>" + text + "</Point>" + Space();
    }

    std::string Label() {
        if (oddness_ > 0 && Chance(3)) return " Label=\"unknown\"";
        if (Chance(5)) return "";
        return " Label=\"" + Label(kLabels[Pick({0, 1, 2, 3})]) + "\"";
    }

    std::string Shape(int i) {
        const std::string attributes =
            (Chance(80) ? " Index=\"" + std::to_string(i) + "\"" : std::string()) + Label();
        switch (Pick({0, 1, 2, 3})) {
            case 0: {
                std::string points;
                for (int p = 0; p < (oddness_ > 0 && Chance(10) ? 2 : 4); ++p) points += Point();
                return "<Rectangle" + attributes + ">" + points + "</Rectangle>";
            }
            case 1:
                return "<Circle" + attributes + ">" + Space() + "<Center>" + Number() + "," +
                       Number() + "</Center>" + Point() + (Chance(20) ? Point() : "") +
                       (plain_ && Chance(20) ? "<Center>1,1</Center>" : "") + "</Circle>";
            case 2: {
                std::string points;
                const int count = Pick({1, 3, 6, 40});
                for (int p = 0; p < count; ++p) points += Point();
                return "<Polygon" + attributes + ">" + points + "</Polygon>";
            }
            default:
                if (plain_ && Chance(50)) return "<Polygon" + attributes + End();
                return "<Ellipse Label=\"unknown\"><Point>1,2</Point></Ellipse>";
        }
    }

    std::string Wrapped(const std::string& shape) {
        switch (plain_ ? Pick({0, 0, 1, 2, 3}) : Pick({0, 0, 1, 2})) {
            case 1:
                return "<Mask Index=\"" + Text() + "\" Color=\"#FF0000\" Description=\"" + Text() +
                       "\">" + shape + "</Mask>";
            case 2:
                return "<Group><Mask Index=\"3\"/>" + shape + "</Group>";
            case 3:
                return "<Polygon Index=\"o\"><Point>0,0</Point><Point>4,0</Point>" + shape +
                       "<Point>4,4</Point></Polygon>";
            default:
                return shape;
        }
    }

    std::mt19937 random_;
    const bool plain_;
    int oddness_ = 0;
};

bool Scans(const std::string& xml) {
    struct {
        std::size_t Open(const annoxml::detail::ScannedElement&,
                         const annoxml::detail::ScannedElement*, std::size_t) {
            return 0;
        }
        void Text(std::string_view, std::size_t) {}
    } ignore;
    return annoxml::detail::WalkDocument(xml, ignore);
}

TEST(StreamedConversion, PlainDocumentsReadWithoutTheTreeGiveTheSameOutcome) {
    TempDir dir;
    int scanned = 0;
    for (unsigned seed = 1; seed <= 400; ++seed) {
        const std::string xml = RandomDocument(seed, true).Make();
        ExpectSameOutcome(dir.Write("in.xml", xml), "seed " + std::to_string(seed) + ": " + xml);
        if (Scans(xml)) ++scanned;
    }
    // Documents the scanner gives up on are converted from the tree; nearly none must be.
    EXPECT_GE(scanned, 380);
}

// The scanner reads only what it reads exactly as the parser does; everything else, well-formed or
// not, goes to the parser, and the outcome is the parser's. Declared encodings and NUL bytes are
// turned away before the walk: the outcome shows it, as their texts would be read otherwise.
TEST(StreamedConversion, WhatTheScannerLeavesToTheParser) {
    const std::string head = "<A><User Time=\"t\"/><LabelList><Label LabelType=\"p\"/></LabelList>";
    const std::string shape =
        "<Polygon Label=\"p\"><Point>1,2</Point><Point>3,4</Point><Point>5,7</Point></Polygon>";
    const std::string tail = "</A>";
    const struct {
        const char* name;
        std::string xml;
        bool scanned;
    } kCases[] = {
        {"plain", head + shape + tail, true},
        {"declaration", "<?xml version='1.0'?>\r\n" + head + shape + tail, true},
        {"utf-8 declaration", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + head + shape + tail,
         true},
        {"end tag with spaces", head + shape + "</A \n>", true},
        {"line ends in attributes", "<A><User Time=\"a\r\nb\tc\nd\re\"/>" + shape + tail, true},
        {"single quotes", "<A><User Time='say \"hi\"'/>" + tail, true},
        {"root closes itself", "<A/>", true},
        {"shape inside a shape",
         head +
             "<Polygon Label=\"p\"><Point>0,0</Point><Rectangle Label=\"p\"><Point>1,1</Point>"
             "<Point>2,2</Point></Rectangle><Point>4,0</Point><Point>4,4</Point></Polygon>" +
             tail,
         true},
        {"centre inside a point, then the first centre",
         head +
             "<Circle Label=\"p\"><Point><Center>9,9</Center>1,2</Point><Center>3,3</Center>"
             "<Center>5,5</Center></Circle>" +
             tail,
         true},
        {"first centre without text",
         head + "<Circle Label=\"p\"><Center/><Center>3,3</Center><Point>1,2</Point></Circle>" +
             tail,
         true},
        {"texts split by children",
         head +
             "<Polygon Label=\"p\"><Point> \r\n<b>7</b>1,2<c/>3</Point><Point>5,5</Point>"
             "<Point>\r9,\r\n9</Point></Polygon>" +
             tail,
         true},
        {"image texts after empty ones",
         "<A><ImageInformation><Height/><Height> </Height><Height>4<b/>80</Height><Width>\r\n"
         "</Width><Width>6\r40</Width></ImageInformation><User Time=\"t\"/></A>",
         true},
        {"comment", head + "<!-- c -->" + shape + tail, false},
        {"cdata", head + "<Polygon><Point><![CDATA[1,2]]></Point></Polygon>" + tail, false},
        {"doctype", "<!DOCTYPE A>" + head + tail, false},
        {"processing instruction", head + "<?pi x?>" + tail, false},
        {"entity", head + "<Polygon Label=\"a&amp;b\"/>" + tail, false},
        {"character reference", head + "<Polygon><Point>1&#44;2</Point></Polygon>" + tail, false},
        {"byte order mark", "\xEF\xBB\xBF" + head + tail, false},
        {"latin-1 declaration",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><A><User Time=\"\xe9\"/></A>", true},
        {"windows-1252 declaration",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?><A><User Time=\"\x9c\"/></A>", true},
        {"NUL byte", "<A><User Time=\"a" + std::string(1, '\0') + "b\"/></A>", true},
        {"name outside ASCII", head + "<Polygön/>" + tail, false},
        {"mismatched end tag", head + "<Polygon></Polygn>" + tail, false},
        {"unclosed element", head + shape, false},
        {"attributes without space", "<A><User Time=\"t\"UserID=\"u\"/>" + tail, false},
        {"space around =", "<A><User Time = \"t\"/>" + tail, false},
        {"unquoted attribute", "<A><User Time=t/>" + tail, false},
        {"< in an attribute", "<A><User Time=\"a<b\"/>" + tail, false},
        {"> in text", head + "<Polygon><Point>1,2></Point></Polygon>" + tail, false},
        {"text outside the root", head + tail + "x", false},
        {"two roots", head + tail + "<B/>", false},
        {"empty", "", false},
    };
    TempDir dir;
    for (const auto& c : kCases) {
        EXPECT_EQ(Scans(c.xml), c.scanned) << c.name;
        ExpectSameOutcome(dir.Write("in.xml", c.xml), c.name);
    }
}

// Character data is searched sixteen bytes at a time: a reference or a '>' at any place of a
// long text, up to its last byte, is still found, and the document left to the parser.
TEST(StreamedConversion, LongTextsStopAtEveryPlace) {
    const std::string head =
        "<A><User Time=\"t\"/><LabelList><Label LabelType=\"p\"/></LabelList>"
        "<Polygon Label=\"p\"><Point>1,2</Point><Point>3,4</Point><Point>";
    const std::string tail = "5,7</Point></Polygon></A>";
    TempDir dir;
    for (std::size_t at = 0; at <= 40; ++at) {
        for (const std::string stop : {"&#32;", ">"}) {
            const std::string xml =
                head + std::string(at, ' ') + stop + std::string(40 - at, ' ') + tail;
            const std::string name = "'" + stop + "' after " + std::to_string(at) + " spaces";
            EXPECT_FALSE(Scans(xml)) << name;
            ExpectSameOutcome(dir.Write("in.xml", xml), name);
        }
        const std::string plain = head + std::string(at, ' ') + tail;
        EXPECT_TRUE(Scans(plain)) << at << " spaces";
    }
}

TEST(StreamedConversion, SameOutcomeAsTheTreeForRandomDocuments) {
    TempDir dir;
    std::map<std::string, int> seen;  // error kind, or "written" and "reported"
    for (unsigned seed = 1; seed <= 300; ++seed) {
        const std::string xml = RandomDocument(seed).Make();
        const Outcome outcome = ExpectSameOutcome(dir.Write("in.xml", xml),
                                                  "seed " + std::to_string(seed) + ": " + xml);
        ++seen[outcome.error.empty() ? "written"
                                     : outcome.error.substr(0, outcome.error.find(":"))];
        if (!outcome.reports.empty()) ++seen["reported"];
    }
    // Every path is taken: written documents, reports, and each kind of failure.
    EXPECT_GE(seen["written"], 150);
    EXPECT_GE(seen["reported"], 10);
    EXPECT_GE(seen.size(), 5u) << "written, reported, and at least three kinds of error";
    for (const auto& [kind, count] : seen) std::cout << kind << ": " << count << "\n";
}

}  // namespace

// Numbers written by the shortcut for short decimals and by the library's Grisu2 must agree on
// every value: short decimals of every length and scale, values near powers of two, and doubles
// of random bits.
TEST(StreamedConversion, NumbersWrittenAsTheLibraryWritesThem) {
    std::mt19937_64 random(11);
    std::string points;
    char text[64];
    for (int i = 0; i < 30000; ++i) {
        switch (i % 4) {
            case 0: {  // a decimal of up to 15 digits with up to 9 places
                const int digits = 1 + static_cast<int>(random() % 15);
                const int places = static_cast<int>(random() % std::min(digits + 1, 10));
                std::string number = std::to_string(random() % 1000000000000000ull)
                                         .substr(0, static_cast<std::size_t>(digits));
                if (places > 0)
                    number.insert(number.size() - static_cast<std::size_t>(places), ".");
                points += (random() % 2 ? "-" : "") + number;
                break;
            }
            case 1:  // powers of two and their neighbours, whose intervals are lopsided
                std::snprintf(text, sizeof text, "%.17g",
                              std::nextafter(std::ldexp(1.0, static_cast<int>(random() % 80) - 30),
                                             random() % 2 ? 0.0 : 1e300));
                points += text;
                break;
            case 2: {  // random bits
                const std::uint64_t bits = random();
                double value;
                std::memcpy(&value, &bits, sizeof value);
                std::snprintf(text, sizeof text, "%.17g", std::isfinite(value) ? value : 1.5);
                points += text;
                break;
            }
            default:  // short decimals at scales from 1e-9 to 1e16
                std::snprintf(text, sizeof text, "%.*f", static_cast<int>(random() % 6),
                              static_cast<double>(random() % 100000) *
                                  std::pow(10.0, static_cast<int>(random() % 26) - 14));
                points += text;
        }
        points += i % 2 ? "</Point><Point>" : ",";
    }
    const std::string xml =
        "<A><User/><LabelList><Label LabelType=\"p\"/></LabelList><Circle Label=\"p\"><Center>0,0"
        "</Center><Point>" +
        points + "0</Point></Circle></A>";
    TempDir dir;
    const Outcome reference = ExpectSameOutcome(dir.Write("in.xml", xml), "numbers");
    EXPECT_EQ(reference.error, "");
}
