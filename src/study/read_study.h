// What every whole-study run shares, whatever it writes: listing the inputs, reading them in
// order on the run's threads, summing up.
#pragma once

#include <functional>

#include "annoxml/pipeline.h"
#include "annoxml/study.h"

namespace annoxml::detail {

// Lists the run's inputs (a folder that cannot be listed goes to run.unlisted and counts as a
// failed file), reads them through `consume` on the run's threads and sums up.
StudySummary ReadStudy(const StudyRun& run, const FrameConsumer& consume,
                       std::function<void(FrameItem&)> prepare = {}, bool collectProblems = false);

}  // namespace annoxml::detail
