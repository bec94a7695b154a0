// Reading and converting a generated annotation file of 10,000 shapes (about 30 MB), and
// formatting the data-set annotations of small frames.
//   cmake -S . -B build-bench -DANNOXML_BUILD_BENCH=ON && cmake --build build-bench -j
//   build-bench/bench/annoxml_bench
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "annoxml/annoxml.h"
#include "annoxml/dataset.h"
#include "annoxml/frame.h"

namespace {

constexpr int kShapes = 10000;
constexpr int kPolygonPoints = 320;

std::string Point(double x, double y) {
    std::ostringstream text;
    text << "<Point>" << x << "," << y << "</Point>";
    return text.str();
}

// Rectangles, circles and many-point polygons in equal numbers, a third of them inside masks.
std::string GeneratedFile() {
    std::ostringstream xml;
    xml << "<Annotation><ImageInformation><FileName>f.png</FileName><Height>1080</Height>"
           "<Width>1920</Width></ImageInformation><User UserID=\"u\" Time=\"t\"/>"
           "<LabelList><Label LabelType=\"Polyp\"/><Label LabelType=\"Ulcer\"/></LabelList>";
    for (int i = 0; i < kShapes; ++i) {
        const bool inMask = i % 3 == 0;
        if (inMask) xml << "<Mask Index=\"" << i << "\" Color=\"#FF0000\">";
        const char* label = i % 2 ? "Polyp" : "Ulcer";
        const double x = i % 1000 + 0.25;
        const double y = i % 700 + 0.5;
        switch (i % 3) {
            case 0:
                xml << "<Rectangle Index=\"" << i << "\" Label=\"" << label << "\">" << Point(x, y)
                    << Point(x + 40, y) << Point(x + 40, y + 30) << Point(x, y + 30)
                    << "</Rectangle>";
                break;
            case 1:
                xml << "<Circle Index=\"" << i << "\" Label=\"" << label << "\"><Center>" << x
                    << "," << y << "</Center>" << Point(x - 12.5, y) << "</Circle>";
                break;
            default:
                xml << "<Polygon Index=\"" << i << "\" Label=\"" << label << "\">";
                for (int p = 0; p < kPolygonPoints; ++p) xml << Point(x + p * 0.125, y + p % 17);
                xml << "</Polygon>";
        }
        if (inMask) xml << "</Mask>";
    }
    xml << "</Annotation>";
    return xml.str();
}

const std::string& InputPath() {
    static const std::string path = [] {
        const std::string file = (std::filesystem::temp_directory_path() /
                                  ("annoxml-bench-" + std::to_string(getpid()) + ".xml"))
                                     .string();
        std::ofstream(file) << GeneratedFile();
        std::atexit([] { std::remove(InputPath().c_str()); });
        return file;
    }();
    return path;
}

// The library echoes every loaded path on standard output; keep it out of the report.
struct QuietStdout {
    std::ostringstream sink;
    std::streambuf* original = std::cout.rdbuf(sink.rdbuf());
    ~QuietStdout() { std::cout.rdbuf(original); }
};

void BM_GenerateCOCOJson(benchmark::State& state) {
    const std::string input = InputPath();
    const std::string output = input + ".json";
    QuietStdout quiet;
    for (auto _ : state) {
        GenerateCOCOJson(input, output);
    }
    state.counters["input_MB"] = std::filesystem::file_size(input) / 1e6;
    state.counters["output_MB"] = std::filesystem::file_size(output) / 1e6;
    std::remove(output.c_str());
}
BENCHMARK(BM_GenerateCOCOJson)->Unit(benchmark::kMillisecond);

void BM_GetAllAnnotations(benchmark::State& state) {
    const std::string input = InputPath();
    QuietStdout quiet;
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetAllAnnotations(input));
    }
}
BENCHMARK(BM_GetAllAnnotations)->Unit(benchmark::kMillisecond);

void BM_ParsePoints(benchmark::State& state) {
    std::string text;
    for (int p = 0; p < kPolygonPoints; ++p) text += std::to_string(p * 0.125) + ",17.5,";
    for (auto _ : state) {
        benchmark::DoNotOptimize(ParsePoints(text));
    }
}
BENCHMARK(BM_ParsePoints)->Unit(benchmark::kMicrosecond);

// The shapes and coordinates of the frame that `bench/generate.py tiny` writes as number n: a
// polygon in a mask, a rectangle, a circle and a line.
std::string TinyFrame(int n) {
    const int x = n % 600, y = n % 400;
    std::ostringstream xml;
    xml << "<Annotation><ImageInformation><FileName>frame.png</FileName><Height>480</Height>"
           "<Width>640</Width></ImageInformation><User UserID=\"bench\" Time=\"t\"/>"
           "<LabelList><Label LabelType=\"Polyp\"/></LabelList>"
           "<Mask Index=\"1\"><Polygon Index=\"1\" Label=\"Polyp\">"
        << Point(x, y) << Point(x + 30, y + 5) << Point(x + 12, y + 40)
        << "</Polygon></Mask><Rectangle Index=\"2\" Label=\"Polyp\">" << Point(x, y)
        << Point(x + 20, y) << Point(x + 20, y + 20) << Point(x, y + 20)
        << "</Rectangle><Circle Index=\"3\" Label=\"Polyp\"><Center>" << x + 50 << "," << y + 50
        << "</Center>" << Point(x + 40, y + 50) << "</Circle><Line Index=\"4\">"
        << "<StartPoint>" << x << "," << y << "</StartPoint><EndPoint>" << x + 9 << "," << y + 9
        << "</EndPoint></Line></Annotation>";
    return xml.str();
}

// What `dataset` formats for each frame on the thread that read it; the numbers are most of it.
// The generator's frames repeat after 1,200.
void BM_PrepareAnnotations(benchmark::State& state) {
    std::vector<annoxml::Frame> frames;
    for (int n = 0; n < 1200; ++n) {
        pugi::xml_document doc;
        const std::string xml = TinyFrame(n);
        doc.load_buffer(xml.data(), xml.size());
        frames.push_back(annoxml::ReadFrame(doc, "frame.xml"));
    }
    for (auto _ : state) {
        for (const annoxml::Frame& frame : frames) {
            benchmark::DoNotOptimize(annoxml::PreparedAnnotations(frame, -1));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames.size()));
}
BENCHMARK(BM_PrepareAnnotations)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
