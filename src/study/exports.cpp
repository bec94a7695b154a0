#include <memory>
#include <optional>
#include <stdexcept>

#include "annoxml/pipeline.h"
#include "annoxml/study.h"
#include "study/read_study.h"

namespace annoxml {

// The inputs are counted, and folders that cannot be listed reported, before any file is read;
// the files are listed as the reads go, and `catalog` is told so, so that neither holds the whole
// study.
StudySummary detail::ReadStudy(const StudyRun& run, DatasetCatalog& catalog,
                               const FrameConsumer& consume,
                               std::function<void(FrameItem&)> prepare, bool collectProblems) {
    std::size_t unlisted = 0;
    const auto report = [&](const std::string& message) {
        ++unlisted;
        if (run.unlisted) run.unlisted(message);
    };
    // Several inputs keep their folders' own names in the data-set file names.
    FrameSourceWalk sources(run.inputs, run.inputs.size() > 1, report, run.threads);
    catalog.AdmitInWalkOrder(sources.FolderMayRecur());
    if (run.listed) run.listed(sources.Count());
    PipelineOptions pipeline;
    pipeline.threads = run.threads;
    pipeline.collectProblems = collectProblems;
    pipeline.prepare = std::move(prepare);
    pipeline.stopRequested = run.stopRequested;
    pipeline.delivered = run.delivered;
    const PipelineSummary read = RunFramePipeline(sources, pipeline, consume);
    for (const std::string& message : sources.lateFailures()) report(message);
    StudySummary summary;
    summary.converted = read.converted;
    summary.failed = read.failed + unlisted;
    summary.notStarted = read.stopped ? read.notStarted : 0;
    summary.stopped = read.stopped;
    summary.seconds = read.seconds;
    return summary;
}

namespace {

using detail::ReadStudy;

// Runs `write` (an index file, a commit), keeping why it failed in the summary.
template <typename Write>
void Complete(StudySummary& summary, Write write) {
    try {
        write();
    } catch (const std::exception& error) {
        summary.writeError = error.what();
    }
}

// What a YOLO run says when it copied images that it could not link (Windows).
std::string ImagesCopiedNote(std::size_t copied) {
    if (copied == 0) return "";
    return std::to_string(copied) + (copied == 1 ? " image was" : " images were") +
           " copied: symbolic links cannot be made here";
}

}  // namespace

std::vector<FrameSource> ListInputs(
    const std::vector<std::string>& inputs,
    const std::function<void(const std::string& message)>& unlisted) {
    // Several inputs keep their folders' own names in the data-set file names.
    FrameSourceWalk walk(inputs, inputs.size() > 1, [&unlisted](const std::string& message) {
        if (unlisted) unlisted(message);
    });
    std::vector<FrameSource> sources;
    sources.reserve(walk.Count());
    FrameSource source;
    while (walk.Next(source)) sources.push_back(std::move(source));
    for (const std::string& message : walk.lateFailures()) {
        if (unlisted) unlisted(message);
    }
    return sources;
}

DatasetExportSummary ExportDataset(const StudyRun& run, const std::string& output, int indent,
                                   bool strict) {
    DatasetCatalog catalog(run.dataset);
    DatasetWriter writer(output, catalog, indent);
    DatasetExportSummary summary;
    static_cast<StudySummary&>(summary) = ReadStudy(
        run, catalog,
        [&](FrameItem& item) {
            if (item.frame) {
                UseAdmitted(catalog, item, [&](const DatasetFrame& admitted) {
                    writer.Add(admitted, item.annotations);
                });
            }
            return std::string();
        },
        [indent](FrameItem& item) { item.annotations = PreparedAnnotations(*item.frame, indent); });
    summary.admitted = catalog.tally();
    if (summary.stopped) {
        return summary;
    }
    Complete(summary, [&] { catalog.CheckSplits(); });
    if (!summary.writeError.empty() || (strict && summary.failed != 0)) {
        return summary;
    }
    Complete(summary, [&] { writer.Commit(); });
    if (summary.writeError.empty()) {
        summary.files = writer.files();
        summary.categories = catalog.categories().size();
        summary.staleFiles = writer.StaleFiles();
    }
    return summary;
}

MaskExportSummary ExportMasks(const StudyRun& run, const MaskSetWriter::Options& options) {
    DatasetCatalog catalog(run.dataset);
    MaskSetWriter writer(options);
    // Frames are admitted in order here; rendering and compressing run on the run's threads.
    BackgroundTasks rendering(run.threads, run.failedLater);
    MaskExportSummary summary;
    static_cast<StudySummary&>(summary) =
        ReadStudy(run, catalog, [&](FrameItem& item) -> std::string {
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
    // A stop requested while the last masks were rendered holds the folder back too.
    summary.stopped = summary.stopped || (run.stopRequested && run.stopRequested());
    summary.admitted = catalog.tally();
    // A stopped run leaves the folder of an earlier one as it was.
    if (!summary.stopped) {
        Complete(summary, [&] { summary.unknownLabels = writer.Finish(catalog); });
    }
    return summary;
}

YoloExportSummary ExportYolo(const StudyRun& run, const YoloSetWriter::Options& options) {
    // YOLO trainers read train, val and test only.
    DatasetOptions dataset = run.dataset;
    dataset.splits = YoloSplits(std::move(dataset.splits));
    DatasetCatalog catalog(dataset);
    YoloSetWriter writer(options);
    YoloExportSummary summary;
    static_cast<StudySummary&>(summary) =
        ReadStudy(run, catalog, [&](FrameItem& item) -> std::string {
            if (item.frame) {
                // Before the catalog admits it, so that a frame whose image is missing fails
                // without adding its labels to the classes.
                writer.FindImage(*item.frame, DatasetFileName(*item.source, *item.frame));
                UseAdmitted(catalog, item, [&](const DatasetFrame& admitted) {
                    writer.Write(admitted, catalog.categories());
                });
            }
            return "";
        });
    summary.admitted = catalog.tally();
    if (!summary.stopped) {
        Complete(summary, [&] { writer.Finish(catalog); });
        summary.validationNote = YoloValidationNote(catalog.options().splits);
        summary.imagesNote = ImagesCopiedNote(writer.imagesCopiedForLinks());
    }
    return summary;
}

}  // namespace annoxml
