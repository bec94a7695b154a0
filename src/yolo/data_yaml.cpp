// data.yaml: where a YOLO trainer finds the images and what the classes are called.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "annoxml/yolo.h"

namespace annoxml {
namespace {

bool IsPlainKey(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '_' || c == '-';
    });
}

std::string Key(const std::string& name) { return IsPlainKey(name) ? name : YamlQuoted(name); }

}  // namespace

std::string YamlQuoted(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        // YAML reads these three as line breaks even inside quotes: NEL, LS, PS.
        if (c == 0xC2 && i + 1 < text.size() && text[i + 1] == '\x85') {
            out += "\\N";
            ++i;
        } else if (c == 0xE2 && i + 2 < text.size() && text[i + 1] == '\x80' &&
                   (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            out += text[i + 2] == '\xA8' ? "\\L" : "\\P";
            i += 2;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::vector<SplitShare> YoloSplits(std::vector<SplitShare> splits) {
    for (std::size_t i = 0; i < splits.size(); ++i) {
        std::string& name = splits[i].name;
        if (name == "valid" || name == "validation") name = "val";
        if (name != "train" && name != "val" && name != "test") {
            throw std::invalid_argument("split \"" + name +
                                        "\": YOLO data sets take train, val (or valid, "
                                        "validation) and test");
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (splits[j].name == name) {
                throw std::invalid_argument("split \"" + name + "\" is given twice");
            }
        }
    }
    return splits;
}

std::string YoloValidationNote(const std::vector<SplitShare>& splits) {
    for (const SplitShare& split : splits) {
        if (split.name == "val") return "";
    }
    return "no val split: data.yaml's val names the training images, so validation runs on "
           "training images (give --split with a val share to hold some out)";
}

std::string DataYaml(const YoloDataset& dataset) {
    std::string yaml;
    for (const std::string& split : dataset.splits) {
        yaml += Key(split) + ": " + YamlQuoted("images/" + split) + "\n";
    }
    const bool hasVal =
        std::find(dataset.splits.begin(), dataset.splits.end(), "val") != dataset.splits.end();
    if (!hasVal) {
        yaml += "val: " + YamlQuoted("images/train") + "  # no val split: the training images\n";
    }
    yaml += "nc: " + std::to_string(dataset.names.size()) + "\n";
    yaml += dataset.names.empty() ? "names: []\n" : "names:\n";
    for (std::size_t i = 0; i < dataset.names.size(); ++i) {
        yaml += "  " + std::to_string(i) + ": " + YamlQuoted(dataset.names[i]) + "\n";
    }
    return yaml;
}

}  // namespace annoxml
