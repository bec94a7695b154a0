#include "annoxml/check.h"

#include <set>
#include <utility>

#include "annoxml/dataset.h"
#include "annoxml/frame.h"
#include "study/read_study.h"

namespace annoxml {
namespace {

struct Finding {
    bool error = false;
    std::string message;
};

std::string SizeText(const Frame& frame) {
    return std::to_string(frame.width) + "x" + std::to_string(frame.height);
}

// "partly" or "wholly" outside the image, or "" when inside.
const char* OutsideImage(const Box& box, const Frame& frame) {
    const double right = box.x + box.width;
    const double bottom = box.y + box.height;
    if (box.x >= frame.width || box.y >= frame.height || right <= 0 || bottom <= 0) {
        return "wholly";
    }
    if (box.x < 0 || box.y < 0 || right > frame.width || bottom > frame.height) {
        return "partly";
    }
    return "";
}

// Regions partly outside the image; those the catalog leaves out are reported from the admitted
// frame, by the rule every export follows.
void RegionWarnings(const Frame& frame, std::vector<Finding>& findings) {
    const bool sized = frame.width > 0 && frame.height > 0;
    for (const Region& region : frame.regions) {
        const std::string outside = sized ? OutsideImage(region.box, frame) : "";
        if (outside == "partly" && !RegionLeftOut(region, frame.width, frame.height)) {
            findings.push_back({false, ShapeName(region.kind, region.index) + ": " + outside +
                                           " outside the " + SizeText(frame) + " image"});
        }
    }
}

void FileNameWarning(const Frame& frame, std::vector<Finding>& findings) {
    const std::string_view image = ImageFileName(frame.fileName);
    if (image.size() != frame.fileName.size()) {
        findings.push_back({false, "FileName \"" + frame.fileName +
                                       "\" holds a folder path; its last component \"" +
                                       std::string(image) + "\" names the image"});
    }
}

void RepeatedIndexWarnings(const Frame& frame, std::vector<Finding>& findings) {
    std::set<std::pair<ShapeKind, std::string>> seen;
    const auto note = [&](ShapeKind kind, const std::string& index) {
        if (!index.empty() && !seen.emplace(kind, index).second) {
            findings.push_back({false, ShapeName(kind, index) + ": another " + KindName(kind) +
                                           " of this file has the same Index"});
        }
    };
    for (const Region& region : frame.regions) note(region.kind, region.index);
    for (const Mark& mark : frame.marks) note(mark.kind, mark.index);
}

// The findings of the items of one run, taken in input order.
class Checker {
  public:
    explicit Checker(const DatasetOptions& options) : catalog_(options) {}

    DatasetCatalog& catalog() { return catalog_; }

    std::vector<Finding> Check(FrameItem& item) {
        std::vector<Finding> findings;
        if (!item.error.empty()) {
            findings.push_back({true, item.error});
        }
        for (const std::string& problem : item.problems) {
            findings.push_back({true, problem});
        }
        if (item.frame) {
            RegionWarnings(*item.frame, findings);
            FileNameWarning(*item.frame, findings);
            RepeatedIndexWarnings(*item.frame, findings);
            Admit(item, findings);
        }
        return findings;
    }

  private:
    void Admit(FrameItem& item, std::vector<Finding>& findings) {
        try {
            UseAdmitted(catalog_, item, [&](const DatasetFrame& admitted) {
                const std::string size = SizeText(admitted.frame);
                for (const LeftOutRegion& region : admitted.leftOut) {
                    const std::string reason = region.reason == LeftOutReason::ZeroArea
                                                   ? "zero area"
                                                   : "wholly outside the " + size + " image";
                    findings.push_back({false, ShapeName(region.kind, region.index) + ": " +
                                                   reason + "; left out of every export"});
                }
            });
        } catch (const DuplicateFileName& error) {
            findings.push_back({true, error.detail()});
        } catch (const FrameError& error) {
            // Without a fixed category list only labels outside the file's own list fail here,
            // and those are reported already.
            if (catalog_.options().categories) {
                findings.push_back({true, error.detail()});
            }
        }
    }

    DatasetCatalog catalog_;
};

}  // namespace

const char* SeverityName(Severity severity) {
    return severity == Severity::Error ? "error" : "warning";
}

CheckSummary CheckStudy(const StudyRun& run, bool warningsAsErrors, const CheckFound& found) {
    Checker checker(run.dataset);
    CheckSummary summary;
    std::size_t errors = 0;
    std::size_t warnings = 0;
    static_cast<StudySummary&>(summary) = detail::ReadStudy(
        run, checker.catalog(),
        [&](FrameItem& item) -> std::string {
            std::vector<CheckFinding> findings;
            bool failed = false;
            for (Finding& finding : checker.Check(item)) {
                ++(finding.error ? errors : warnings);
                failed = failed || finding.error || warningsAsErrors;
                findings.push_back({item.source->path,
                                    finding.error ? Severity::Error : Severity::Warning,
                                    std::move(finding.message)});
            }
            if (found) found(item, findings);
            return failed ? "has findings" : "";
        },
        {}, true);
    summary.errors = errors;
    summary.warnings = warnings;
    return summary;
}

}  // namespace annoxml
