// libFuzzer target: any bytes as an annotation file, loaded from a file (so that declared
// encodings are transcoded), through every reader, the frame model and the conversion. Every
// failure must be an exception the library documents; nothing may crash or leak.
//   scripts/fuzz [SECONDS]
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "annoxml/annoxml.h"
#include "reader/load.h"

namespace {

const std::string& Scratch(const char* name) {
    static const std::string folder = [] {
        char pattern[] = "/tmp/annoxml-fuzz-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    static std::string paths[2];
    std::string& path = paths[name[0] == 'o'];
    path = folder + "/" + name;
    return path;
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
        annoxml::ReadFrame(input);
    } catch (const std::runtime_error&) {
    }
    try {
        GenerateCOCOJson(input, output);
    } catch (const std::runtime_error&) {
    } catch (const std::out_of_range&) {
    } catch (const nlohmann::json::type_error&) {
    }
    return 0;
}
