// What every whole-study run shares, whatever it writes: listing the inputs, reading them in
// order on the run's threads, summing up.
#pragma once

#include <functional>

#include "annoxml/dataset.h"
#include "annoxml/pipeline.h"
#include "annoxml/study.h"

namespace annoxml::detail {

// Walks the run's inputs (a folder that cannot be listed goes to run.unlisted and counts as a
// failed file), reads them through `consume` on the run's threads and sums up. `catalog` admits
// the frames in the walk's order, which lets it forget the folders the walk has left.
StudySummary ReadStudy(const StudyRun& run, DatasetCatalog& catalog, const FrameConsumer& consume,
                       std::function<void(FrameItem&)> prepare = {}, bool collectProblems = false);

}  // namespace annoxml::detail
