// Checking a study: every problem of its annotation files as the exports would meet them, as
// values, for the tool's check command and the other front ends alike. Writes nothing.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "annoxml/export.h"
#include "annoxml/pipeline.h"
#include "annoxml/study.h"

namespace annoxml {

enum class Severity {
    Error,    // whatever would fail convert or dataset
    Warning,  // what the exports leave out or take as it is, but is likely a mistake
};

// "error" or "warning".
ANNOXML_API const char* SeverityName(Severity severity);

struct CheckFinding {
    std::string path;  // the annotation file, as listed from the inputs
    Severity severity = Severity::Error;
    std::string message;  // without the path: "Polygon with Index 1: partly outside ..."
};

struct CheckSummary : StudySummary {
    std::size_t errors = 0;
    std::size_t warnings = 0;
};

// Called once per file that was read or failed, in input order, on the calling thread, before
// run.delivered of that file; `findings` may be empty. The item may be changed (its `lines`).
using CheckFound = std::function<void(FrameItem& item, const std::vector<CheckFinding>& findings)>;

// `annoxml check`: reads the run's inputs collecting every problem of each file and admits the
// frames to a catalog of the run's options, so that a label outside a fixed category list, a
// repeated data-set file name and the regions every export leaves out are found as the exports
// meet them. Per file, findings come in this order: why it could not be loaded, the reader's
// problems, regions partly outside the image, a FileName with a folder path, repeated Index
// values, then what the catalog found. A file counts as failed when it has an error, or a
// warning with `warningsAsErrors`. run.failedLater is not used.
ANNOXML_API CheckSummary CheckStudy(const StudyRun& run, bool warningsAsErrors,
                                    const CheckFound& found);

}  // namespace annoxml
