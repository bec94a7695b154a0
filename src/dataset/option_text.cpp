// The catalog options as users write them on a command line or in a call.
#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "annoxml/dataset.h"

namespace annoxml {

std::vector<std::pair<std::string, std::string>> ParseRenames(
    const std::vector<std::string>& renames) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const std::string& rename : renames) {
        const std::size_t equals = rename.find('=');
        if (equals == std::string::npos || equals == 0) {
            throw std::invalid_argument("\"" + rename + "\" is not OLD=NEW");
        }
        pairs.emplace_back(rename.substr(0, equals), rename.substr(equals + 1));
    }
    return pairs;
}

std::vector<SplitShare> ParseSplits(const std::string& text) {
    std::vector<SplitShare> splits;
    if (text.empty()) {
        return splits;
    }
    double total = 0;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        const std::size_t equals = item.find('=');
        const std::string name = item.substr(0, std::min(equals, item.size()));
        double share = -1;
        try {
            std::size_t used = 0;
            share = std::stod(item.substr(equals + 1), &used);
            if (used != item.size() - equals - 1) share = -1;
        } catch (const std::exception&) {
        }
        const bool known = std::any_of(splits.begin(), splits.end(),
                                       [&](const SplitShare& split) { return split.name == name; });
        if (equals == std::string::npos || name.empty() || !(share > 0) || known) {
            throw std::invalid_argument("\"" + item +
                                        "\" is not NAME=SHARE with a new name and a share above 0");
        }
        splits.push_back({name, share});
        total += share;
    }
    if (std::abs(total - 1) > 1e-6) {
        throw std::invalid_argument("the shares add up to " + std::to_string(total) + ", not 1");
    }
    return splits;
}

}  // namespace annoxml
