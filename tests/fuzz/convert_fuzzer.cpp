// libFuzzer target: any bytes as an annotation file, loaded from a file (so that declared
// encodings are transcoded), through every reader, the frame model and the conversion. Every
// failure must be an exception the library documents; nothing may crash or leak; and the
// conversion, which reads plain documents without the parser's tree, must give what the reference
// conversion over the tree gives, text or error. A frame that reads is admitted to a catalog and
// written by the data-set writer, rendered as a mask and as YOLO labels of both tasks, which must
// hold one line per region the catalog kept.
//   scripts/fuzz [SECONDS]
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include <nlohmann/json.hpp>

#include "annoxml/annoxml.h"
#include "annoxml/dataset.h"
#include "annoxml/masks.h"
#include "annoxml/yolo.h"
#include "coco_reference.h"
#include "frame_text.h"
#include "reader/load.h"

namespace {

const std::string& Scratch(const char* name) {
    static const std::string folder = [] {
        char pattern[] = "/tmp/annoxml-fuzz-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    static std::string paths[3];
    std::string& path = paths[name[0] == 'o' ? 1 : name[0] == 's' ? 2 : 0];
    path = folder + "/" + name;
    return path;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The text after the "info" object, whose dates depend on the clock.
std::string WithoutInfo(const std::string& text) {
    const std::size_t images = text.find("\"images\"");
    return images == std::string::npos ? text : text.substr(images);
}

// The text a conversion gives, or the type and message of what it throws: the conversion and
// the reference conversion over the parser's tree must agree on both.
template <typename Convert>
std::string Outcome(Convert convert) {
    try {
        return convert();
    } catch (const std::exception& error) {
        return std::string("error ") + typeid(error).name() + ": " + error.what();
    }
}

std::size_t LineCount(const std::string& text) {
    std::size_t lines = 0;
    for (const char c : text) lines += c == '\n';
    return lines;
}

// The frame through the catalog and every per-frame export. Masks are rendered only for sizes
// that fit the fuzzer's memory.
void Export(annoxml::Frame frame) {
    using namespace annoxml;
    DatasetOptions options;
    options.splits = {{"train", 0.5}, {"val", 0.5}};
    DatasetCatalog catalog(options);
    const DatasetFrame admitted = catalog.Admit(std::move(frame), FrameSource::File("in.xml"));
    {
        DatasetWriter writer(Scratch("set.json"), catalog);
        writer.Add(admitted);
        writer.Commit();
    }
    const Frame& kept = admitted.frame;
    if (kept.width <= 0 || kept.height <= 0) return;
    std::vector<int> classes(kept.regions.size(), 0);
    for (const YoloTask task : {YoloTask::Detect, YoloTask::Segment}) {
        if (LineCount(YoloLabels(kept, classes, task)) != kept.regions.size()) {
            std::fprintf(stderr, "YOLO labels do not hold every region the catalog kept\n");
            std::abort();
        }
    }
    const bool numbered = kept.regions.size() <= 65535;  // the values of a 16-bit instance mask
    if (numbered &&
        static_cast<std::uint64_t>(kept.width) * static_cast<std::uint64_t>(kept.height) <=
            (1u << 20)) {
        MaskRequest request;
        request.mode = MaskMode::Instance;
        RenderMask(kept, request);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::ostringstream sink;
    std::cout.rdbuf(sink.rdbuf());
    std::cerr.rdbuf(sink.rdbuf());
    sink.str("");

    const std::string input = Scratch("in.xml");
    const std::string output = Scratch("out.json");
    std::ofstream(input, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
    try {
        const pugi::xml_document doc = annoxml::detail::LoadDocument(input);
        GetAllAnnotations(doc);
        ParseImageInformation(doc);
        ParseLabelList(doc);
        ParseMask(doc);
        GetMasks(doc);
    } catch (const std::runtime_error&) {
    }
    try {
        Export(annoxml::ReadFrame(input));
    } catch (const std::runtime_error&) {
    }
    for (const bool collect : {false, true}) {
        using Problems = std::vector<std::string>*;
        const std::string fromFile = annoxml::test::ReadingText([&](Problems problems) {
            return annoxml::ReadFrame(input, collect ? problems : nullptr);
        });
        const std::string fromTree = annoxml::test::ReadingText([&](Problems problems) {
            return annoxml::ReadFrame(annoxml::detail::LoadDocument(input), input,
                                      collect ? problems : nullptr);
        });
        if (fromFile != fromTree) {
            std::fprintf(stderr, "frame from the file:\n%s\nfrom the tree:\n%s\n", fromFile.c_str(),
                         fromTree.c_str());
            std::abort();
        }
    }
    std::remove(output.c_str());
    const std::string converted = Outcome([&] {
        GenerateCOCOJson(input, output);
        return WithoutInfo(ReadAll(output));
    });
    const std::string reference = Outcome([&] {
        return WithoutInfo(annoxml::reference::CocoText(annoxml::detail::LoadDocument(input)));
    });
    if (converted != reference) {
        std::fprintf(stderr, "conversion:\n%s\nreference:\n%s\n", converted.c_str(),
                     reference.c_str());
        std::abort();
    }
    return 0;
}
