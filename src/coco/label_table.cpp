#include "coco/label_table.h"

#include <mutex>
#include <stdexcept>

namespace annoxml::detail {
namespace {

std::mutex labelTableMutex;
LabelTable labelCategoryIds;

}  // namespace

int CategoryId(const LabelTable& labels, const std::string& label) {
    const auto found = labels.find(label);
    if (found == labels.end()) {
        throw std::out_of_range("invalid map<K, T> key");
    }
    return found->second;
}

LabelTable LastConversionLabels() {
    const std::lock_guard<std::mutex> lock(labelTableMutex);
    return labelCategoryIds;
}

void PublishConversionLabels(const LabelTable& labels) {
    const std::lock_guard<std::mutex> lock(labelTableMutex);
    labelCategoryIds = labels;
}

}  // namespace annoxml::detail
