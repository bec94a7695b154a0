// Converting inline XML texts through the whole conversion and reading the result back.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "annoxml/coco.h"
#include "test_xml.h"

namespace annoxml::test {

inline std::string WithHeader(const std::string& body, const std::string& labels = "Polyp,Ulcer") {
    std::string labelList;
    std::string::size_type start = 0;
    while (start <= labels.size() && !labels.empty()) {
        const auto end = labels.find(',', start);
        labelList += "<Label LabelType=\"" + labels.substr(start, end - start) + "\"/>";
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return "<Annotation><ImageInformation><FileName>img.png</FileName><Height>480</Height>"
           "<Width>640</Width></ImageInformation><User UserID=\"u\" Time=\"t\"/>"
           "<LabelList>" +
           labelList + "</LabelList>" + body + "</Annotation>";
}

// Converts `xml` and returns the written document; the path echo on standard output is dropped.
inline nlohmann::ordered_json Convert(const std::string& xml) {
    TempDir dir;
    const std::string input = dir.Write("in.xml", xml);
    const std::string output = dir.File("out.json");
    Capture(std::cout, [&] { GenerateCOCOJson(input, output); });
    return nlohmann::ordered_json::parse(ReadFile(output));
}

}  // namespace annoxml::test
