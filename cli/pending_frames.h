// Temporary: reads frames one after the other until the shared frame pipeline is merged.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "annoxml/frame.h"

namespace annoxml::cli {

struct PendingSummary {
    std::size_t read = 0;
    std::size_t failed = 0;
};

// Calls onFrame or onFailure(path, message) for every source of the inputs, in order; writes one
// "annoxml: PATH: MESSAGE" line per failure.
PendingSummary ReadFramesInOrder(
    const std::vector<std::string>& inputs, const std::function<void(const Frame&)>& onFrame,
    const std::function<void(const std::string&, const std::string&)>& onFailure);

}  // namespace annoxml::cli
