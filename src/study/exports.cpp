#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>

#include "annoxml/study.h"
#include "annoxml/pipeline.h"

namespace annoxml {
namespace {

// The frame's file name in the data set, known before the catalog admits it, so that a frame
// whose image is missing fails without adding its labels to the classes.
std::string DatasetFileName(const FrameSource& source, const Frame& frame) {
    return source.folder().empty() ? frame.fileName
                                   : std::string(source.folder()) + "/" + frame.fileName;
}

// Lists the run's inputs, reads them through `consume` and sums up: the part of every export
// that does not depend on what it writes.
StudySummary ReadStudy(const StudyRun& run, const FrameConsumer& consume,
                       std::function<void(FrameItem&)> prepare = {}) {
    std::size_t unlisted = 0;
    const std::vector<FrameSource> sources =
        ListInputs(run.inputs, [&](const std::string& message) {
            ++unlisted;
            if (run.unlisted) run.unlisted(message);
        });
    if (run.listed) run.listed(sources.size());
    PipelineOptions pipeline;
    pipeline.threads = run.threads;
    pipeline.prepare = std::move(prepare);
    pipeline.stopRequested = run.stopRequested;
    pipeline.delivered = run.delivered;
    const PipelineSummary read = RunFramePipeline(sources, pipeline, consume);
    StudySummary summary;
    summary.converted = read.converted;
    summary.failed = read.failed + unlisted;
    summary.notStarted = read.notStarted;
    summary.stopped = read.stopped;
    summary.seconds = read.seconds;
    return summary;
}

// Runs `write` (an index file, a commit), keeping why it failed in the summary.
template <typename Write>
void Complete(StudySummary& summary, Write write) {
    try {
        write();
    } catch (const std::exception& error) {
        summary.writeError = error.what();
    }
}

}  // namespace

std::vector<FrameSource> ListInputs(
    const std::vector<std::string>& inputs,
    const std::function<void(const std::string& message)>& unlisted) {
    std::vector<FrameSource> sources;
    for (const std::string& input : inputs) {
        try {
            std::vector<FrameSource> listed = ListFrameSources({input});
            if (sources.empty()) {
                sources = std::move(listed);
            } else {
                std::move(listed.begin(), listed.end(), std::back_inserter(sources));
            }
        } catch (const std::runtime_error& error) {
            if (unlisted) unlisted(error.what());
        }
    }
    return sources;
}

DatasetExportSummary ExportDataset(const StudyRun& run, const std::string& output, int indent,
                                   bool strict) {
    DatasetCatalog catalog(run.dataset);
    DatasetWriter writer(output, catalog, indent);
    DatasetExportSummary summary;
    static_cast<StudySummary&>(summary) = ReadStudy(
        run,
        [&](FrameItem& item) {
            if (item.frame) {
                UseAdmitted(catalog, item, [&](const DatasetFrame& admitted) {
                    writer.Add(admitted, item.annotations);
                });
            }
            return std::string();
        },
        [indent](FrameItem& item) { item.annotations = PreparedAnnotations(*item.frame, indent); });
    if (summary.stopped || (strict && summary.failed != 0)) {
        return summary;
    }
    Complete(summary, [&] { writer.Commit(); });
    if (summary.writeError.empty()) {
        summary.files = writer.files();
        summary.categories = catalog.categories().size();
    }
    return summary;
}

MaskExportSummary ExportMasks(const StudyRun& run, const MaskSetWriter::Options& options) {
    DatasetCatalog catalog(run.dataset);
    MaskSetWriter writer(options);
    // Frames are admitted in order here; rendering and compressing run on the run's threads.
    BackgroundTasks rendering(run.threads, run.failedLater);
    MaskExportSummary summary;
    static_cast<StudySummary&>(summary) = ReadStudy(run, [&](FrameItem& item) -> std::string {
        if (item.frame) {
            auto task = std::make_shared<MaskSetWriter::Task>(writer.Plan(
                catalog.Admit(std::move(*item.frame), *item.source), catalog.categories()));
            rendering.Post(item.source->path, [task] { MaskSetWriter::Render(*task); });
        }
        return "";
    });
    const std::size_t failedLater = rendering.Finish();
    summary.converted -= failedLater;
    summary.failed += failedLater;
    Complete(summary, [&] { summary.unknownLabels = writer.Finish(catalog.categories()); });
    return summary;
}

StudySummary ExportYolo(const StudyRun& run, const YoloSetWriter::Options& options) {
    DatasetCatalog catalog(run.dataset);
    YoloSetWriter writer(options);
    StudySummary summary = ReadStudy(run, [&](FrameItem& item) -> std::string {
        if (item.frame) {
            writer.CheckImage(DatasetFileName(*item.source, *item.frame));
            UseAdmitted(catalog, item, [&](const DatasetFrame& admitted) {
                writer.Write(admitted, catalog.categories());
            });
        }
        return "";
    });
    Complete(summary, [&] { writer.Finish(catalog.categories(), catalog.options().splits); });
    return summary;
}

}  // namespace annoxml
