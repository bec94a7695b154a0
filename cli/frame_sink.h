// Handing the frames of a run to anything that takes frames and failures.
#pragma once

#include <string>

#include "frame_pipeline.h"

namespace annoxml::cli {

// A consumer that gives each frame to sink.Add, and each file that could not be read to
// sink.AddFailure(path, message).
template <typename Sink>
FrameConsumer CollectInto(Sink& sink) {
    return [&sink](FrameItem& item) {
        if (item.frame) {
            sink.Add(*item.frame);
        } else {
            sink.AddFailure(item.source->path, item.error);
        }
        return std::string();
    };
}

}  // namespace annoxml::cli
