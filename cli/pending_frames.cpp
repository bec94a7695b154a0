#include "pending_frames.h"

#include "annoxml/dataset.h"
#include "console.h"

namespace annoxml::cli {

PendingSummary ReadFramesInOrder(
    const std::vector<std::string>& inputs, const std::function<void(const Frame&)>& onFrame,
    const std::function<void(const std::string&, const std::string&)>& onFailure) {
    PendingSummary summary;
    for (const FrameSource& source : ListFrameSources(inputs)) {
        std::string message;
        Frame frame;
        try {
            frame = ReadFrame(source.path);
        } catch (const FrameError& error) {
            message = error.detail().empty() ? error.what() : error.detail();
        } catch (const std::runtime_error& error) {
            message = error.what();
        }
        if (message.empty()) {
            onFrame(frame);
            ++summary.read;
            continue;
        }
        ++summary.failed;
        WriteError("annoxml: " + source.path + ": " + message + "\n");
        onFailure(source.path, message);
    }
    return summary;
}

}  // namespace annoxml::cli
