// Converting inline XML texts through the whole conversion and reading the result back.
#pragma once

#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "annoxml/coco.h"
#include "test_xml.h"

namespace annoxml::test {

inline std::string WithHeader(const std::string& body, const std::string& labels = "Polyp,Ulcer") {
    std::string labelList;
    std::istringstream names(labels);
    for (std::string name; std::getline(names, name, ',');) {
        labelList += "<Label LabelType=\"" + name + "\"/>";
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
