// JsonWriter against the JSON library's own dump() of the same values: random trees of every
// kind of value, compact and pretty, standing at several depths.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "util/json_writer.h"

using annoxml::detail::JsonWriter;
using Json = nlohmann::ordered_json;

namespace {

class RandomTree {
  public:
    explicit RandomTree(unsigned seed) : random_(seed) {}

    Json Value(int depth) {
        switch (Below(depth > 3 ? 5 : 7)) {
            case 0:
                return nullptr;
            case 1:
                return static_cast<long long>(random_()) >> Below(64);
            case 2:
                return Double();
            case 3:
                return Text();
            case 4:
                return Below(2) ? Json::array() : Json::object();
            case 5: {
                Json array = Json::array();
                for (int i = Below(5); i > 0; --i) array.push_back(Value(depth + 1));
                return array;
            }
            default: {
                Json object = Json::object();
                for (int i = Below(5); i > 0; --i) {
                    object["k" + std::to_string(i) + "_" + std::to_string(Below(9))] =
                        Value(depth + 1);
                }
                return object;
            }
        }
    }

  private:
    int Below(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }

    double Double() {
        static const double kOdd[] = {0.0,  -0.0, 0.1,  1e300, 5e-324, 1e-5, 123456789012345.0,
                                      1e15, 1e16, 1e-4, -2.5,  1e21,   3.0,  0.30000000000000004};
        switch (Below(3)) {
            case 0:
                return kOdd[Below(static_cast<int>(std::size(kOdd)))];
            case 1:
                return static_cast<double>(Below(2000000) - 1000000) / std::pow(10.0, Below(9));
            default: {
                const std::uint64_t bits = random_();
                double value;
                std::memcpy(&value, &bits, sizeof value);
                return std::isfinite(value) ? value : 1.5;
            }
        }
    }

    std::string Text() {
        static const char* const kTexts[] = {"",           "plain",     "quote \" and \\ backslash",
                                             "tab\there",  "new\nline", "\x01 control",
                                             "é ポリープ", "\x7f"};
        return kTexts[Below(static_cast<int>(std::size(kTexts)))];
    }

    std::mt19937_64 random_;
};

void Write(JsonWriter& out, const Json& value) {
    switch (value.type()) {
        case Json::value_t::object:
            out.BeginObject();
            for (const auto& [key, item] : value.items()) {
                out.Key(key);
                Write(out, item);
            }
            out.EndObject();
            break;
        case Json::value_t::array:
            out.BeginArray();
            for (const Json& item : value) Write(out, item);
            out.EndArray();
            break;
        case Json::value_t::null:
            out.Null();
            break;
        case Json::value_t::number_float:
            out.Number(value.get<double>());
            break;
        case Json::value_t::string:
            out.String(value.get<std::string>());
            break;
        default:
            out.Integer(value.get<long long>());
    }
}

// dump(indent) of a value that stands `depth` levels deep in a larger document.
std::string Expected(const Json& value, int indent, int depth) {
    const std::string text = value.dump(indent);
    if (indent <= 0 || depth == 0) return text;
    std::string shifted;
    for (const char c : text) {
        shifted += c;
        if (c == '\n') shifted.append(static_cast<std::size_t>(indent * depth), ' ');
    }
    return shifted;
}

TEST(JsonWriter, LaysOutEveryValueAsTheLibraryDumpsIt) {
    RandomTree tree(7);
    for (int i = 0; i < 3000; ++i) {
        const Json value = tree.Value(0);
        const int indent = std::initializer_list<int>{-1, 0, 2, 4}.begin()[i % 4];
        const int depth = i % 7 == 6 ? 20 : i % 3;  // 20 levels pad beyond the common case
        JsonWriter out(indent, depth);
        Write(out, value);
        ASSERT_EQ(out.text(), Expected(value, indent, depth))
            << "indent " << indent << ", depth " << depth;
        // A cleared writer starts afresh.
        out.Clear();
        Write(out, value);
        ASSERT_EQ(out.text(), Expected(value, indent, depth));
    }
}

// The library's own formatting of one double.
std::string LibraryNumber(double value) {
    char text[64];
    return std::string(text, nlohmann::detail::to_chars(text, text + sizeof text, value));
}

std::string WrittenNumber(double value) {
    JsonWriter out(-1);
    out.Number(value);
    return std::string(out.text());
}

// Short decimals take a shortcut past Grisu2; it must give the library's digits for every one,
// wherever the decimal lies in its double's rounding interval, and near powers of two, whose
// interval is narrower below than above; values just beside them must not take it.
TEST(JsonWriter, NumbersAsTheLibraryWritesThem) {
    std::mt19937_64 random(3);
    char text[64];
    for (int i = 0; i < 1000000; ++i) {
        double value;
        if (i % 8 == 7) {
            const double power = std::ldexp(1.0, static_cast<int>(random() % 90) - 40);
            value = i % 16 == 7 ? power : std::nextafter(power, random() % 2 ? 0.0 : 1e300);
        } else if (i % 8 == 6) {
            // A few ulps beside a short decimal, and values like a sampled outline's vertices.
            const double decimal = static_cast<double>(random() % 100000000) / 1e4;
            value = i % 16 == 6 ? std::nextafter(std::nextafter(decimal, 0.0), 0.0)
                                : 320 + 100 * std::cos(static_cast<double>(random() % 4096));
        } else {
            const int digits = 1 + static_cast<int>(random() % 15);
            const int places = static_cast<int>(random() % 10);
            std::snprintf(text, sizeof text, "%s%llue-%d", random() % 2 ? "-" : "",
                          static_cast<unsigned long long>(random() % 1000000000000000ull) %
                              static_cast<unsigned long long>(std::pow(10.0, digits)),
                          places);
            value = std::strtod(text, nullptr);
        }
        ASSERT_EQ(WrittenNumber(value), LibraryNumber(value)) << text;
    }
    // Whole ten-thousandths below 1e5, written digit by digit, with every digit count and
    // trailing zeros, and the doubles beside them, which must not be taken for them.
    for (std::uint32_t k = 0; k < 1000000000; k += k < 200000 ? 1 : 4099) {
        const double value = (k % 2 ? -1.0 : 1.0) * k / 1e4;
        for (const double written : {value, std::nextafter(value, k % 3 ? 1e300 : -1e300)}) {
            ASSERT_EQ(WrittenNumber(written), LibraryNumber(written)) << k;
        }
    }
}

// The data sets' form: each number reads back as the same double, with no fewer digits doing so.
TEST(JsonWriter, ShortestNumbersReadBackWithTheFewestDigits) {
    const auto written = [](double value) {
        JsonWriter out(-1, 0, annoxml::detail::NumberForm::Shortest);
        out.Number(value);
        return std::string(out.text());
    };
    const std::pair<double, const char*> fixed[] = {
        {12.0, "12"},           {123.45, "123.45"}, {0.1 + 0.2, "0.30000000000000004"},
        {-0.0, "-0"},           {1e21, "1e+21"},    {0.00001, "1e-05"},
        {NAN, "null"},          {INFINITY, "null"}, {0.05, "0.05"},
        {12.3, "12.3"},         {-0.5, "-0.5"},     {10000.0, "10000"},
        {99999.99, "99999.99"}, {100000.0, "1e+05"}};
    for (const auto& [value, text] : fixed) EXPECT_EQ(written(value), text);

    // Whole hundredths below 1e5, written digit by digit: every digit count, with and without
    // fractions and their trailing zeros.
    char expected[64];
    for (std::uint32_t k = 0; k < 10000000; k += k < 100000 ? 1 : 37) {
        const double value = (k % 2 ? -1.0 : 1.0) * k / 100;
        ASSERT_EQ(written(value),
                  std::string(expected, std::to_chars(expected, expected + 64, value).ptr));
    }

    std::mt19937_64 random(25);
    for (int i = 0; i < 400000; ++i) {
        double value;
        if (i % 4 == 0) {
            const std::uint64_t bits = random();
            std::memcpy(&value, &bits, sizeof value);
            if (!std::isfinite(value)) continue;
        } else if (i % 4 == 1) {
            value = 960 + 540 * std::cos(static_cast<double>(random() % 100000));
        } else {
            // Whole hundredths and their neighbours, which take a shortcut past to_chars, from
            // 1e-2 to past 1e12, with and without trailing zeros.
            const auto digits = static_cast<double>(random() % 100000000);
            value = (random() % 2 ? -digits : digits) / 100 * std::pow(10.0, random() % 13);
            if (i % 4 == 3) value = std::nextafter(value, random() % 2 ? 0.0 : 1e300);
        }
        const std::string text = written(value);
        ASSERT_EQ(text, std::string(expected, std::to_chars(expected, expected + 64, value).ptr));
        ASSERT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
        // Significant digits: the mantissa's, without point, sign and zeros at either end.
        std::string digits = text.substr(0, text.find('e'));
        digits.erase(std::remove_if(digits.begin(), digits.end(),
                                    [](char c) { return c == '.' || c == '-'; }),
                     digits.end());
        digits.erase(0, digits.find_first_not_of('0'));
        digits.erase(digits.find_last_not_of('0') + 1);
        // (Integers past 2^53 written in fixed notation, being shorter so, are written whole.)
        const bool wholeInteger = text.find_first_of(".e") == std::string::npos;
        if (digits.size() > 1 && !(wholeInteger && std::fabs(value) >= 0x1p53)) {
            char shorter[64];
            std::snprintf(shorter, sizeof shorter, "%.*e", static_cast<int>(digits.size()) - 2,
                          value);
            ASSERT_NE(std::strtod(shorter, nullptr), value) << text << " vs " << shorter;
        }
    }
}

// Numbers() writes what Number() writes, one value after another: short runs and runs past the
// room made at once, values that leave the short way in the middle of a run, in both forms, every
// layout and at depths beyond the fixed-size indent.
TEST(JsonWriter, NumbersWriteWhatNumberWritesForEachValue) {
    using annoxml::detail::NumberForm;
    std::vector<double> values = {1.5, -0.0, 99999.99, 100000.0, 0.1 + 0.2, NAN, 12, -3.25, 25.625};
    for (int i = 0; i < 300; ++i) values.push_back((i % 3 ? -i : i) * 333.33 + (i % 7 == 0) * 1e-9);
    for (const NumberForm form : {NumberForm::Shortest, NumberForm::Library}) {
        for (const auto& [indent, depth] : {std::pair{-1, 0}, {2, 0}, {4, 3}, {4, 20}}) {
            for (std::size_t count = 0; count <= values.size(); count += count < 10 ? 1 : 97) {
                SCOPED_TRACE(testing::Message()
                             << "indent " << indent << ", depth " << depth << ", count " << count);
                JsonWriter each(indent, depth, form);
                JsonWriter all(indent, depth, form);
                for (JsonWriter* out : {&each, &all}) {
                    out->BeginArray();
                    if (count % 2) out->Integer(7);  // the values first in the array, or not
                }
                for (std::size_t i = 0; i < count; ++i) each.Number(values[i]);
                all.Numbers(values.data(), count);
                for (JsonWriter* out : {&each, &all}) out->EndArray();
                ASSERT_EQ(all.text(), each.text());
            }
        }
    }
}

TEST(JsonWriter, RefusesTextThatIsNotUtf8AsTheLibraryDoes) {
    JsonWriter out(4);
    std::string expected;
    try {
        Json("bad \xff byte").dump();
    } catch (const Json::type_error& error) {
        expected = error.what();
    }
    try {
        out.String("bad \xff byte");
        FAIL() << "no error";
    } catch (const Json::type_error& error) {
        EXPECT_EQ(error.what(), expected);
    }
}

TEST(JsonWriter, LongTextsGrowTheBuffer) {
    const std::string text(1 << 20, 'x');
    JsonWriter out(-1);
    out.BeginArray();
    out.String(text);
    out.String(text);
    out.EndArray();
    EXPECT_EQ(out.text(), Json::array({text, text}).dump());
}

}  // namespace
