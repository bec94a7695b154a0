// Whole exports of a study, as the tool's dataset, masks and yolo commands and the Python package
// run them: list the inputs, read the frames on threads, admit them in order, write, commit.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "annoxml/dataset.h"
#include "annoxml/export.h"
#include "annoxml/masks.h"
#include "annoxml/pipeline.h"
#include "annoxml/yolo.h"

namespace annoxml {

// The inputs of a run, its catalog options, and how it reports. Nothing is written to the
// standard streams: every failure goes to a callback.
struct StudyRun {
    std::vector<std::string> inputs;  // files, folders searched for *.xml, "-" for standard input
    DatasetOptions dataset;
    unsigned threads = 1;
    // As PipelineOptions::stopRequested.
    std::function<bool()> stopRequested;
    // The inputs are listed: `files` files will be read. Called once, before any file is read.
    std::function<void(std::size_t files)> listed;
    // A folder that cannot be listed, with the message that names it; it counts as a failed file.
    std::function<void(const std::string& message)> unlisted;
    // As PipelineOptions::delivered: after each file, on the calling thread.
    std::function<void(const FrameItem& item, const std::string& failure, std::size_t done)>
        delivered;
    // A file that fails after it was delivered, on another thread (a mask that cannot be written).
    std::function<void(const std::string& path, const std::string& failure)> failedLater;
};

struct StudySummary {
    std::size_t converted = 0;
    std::size_t failed = 0;  // folders that could not be listed included
    std::size_t notStarted = 0;
    bool stopped = false;
    double seconds = 0;
    // Why the outputs could not be completed ("" when they were, or were not attempted because
    // the run stopped or, with strict, a file failed): a named split without frames, a file that
    // cannot be written.
    std::string writeError;
    // What the catalog admitted: images per split, regions left out by reason.
    AdmissionTally admitted;
};

// The sources of every input in order; a folder that cannot be listed is passed to `unlisted`
// (when set) with the message naming it, and left out.
ANNOXML_API std::vector<FrameSource> ListInputs(
    const std::vector<std::string>& inputs,
    const std::function<void(const std::string& message)>& unlisted);

struct DatasetExportSummary : StudySummary {
    std::vector<DatasetWriter::FileSummary> files;  // what was written, after a commit
    std::size_t categories = 0;
    // Split files of the same stem that an earlier run left and this one did not rewrite.
    std::vector<std::string> staleFiles;
};

// `annoxml dataset`: one COCO instances file per split at `output`. Nothing is written when the
// run stops, when a named split receives no frame, or when `strict` and a file failed. Throws
// std::runtime_error, before reading, when the output cannot be opened.
ANNOXML_API DatasetExportSummary ExportDataset(const StudyRun& run, const std::string& output,
                                               int indent = -1, bool strict = false);

struct MaskExportSummary : StudySummary {
    std::vector<std::string> unknownLabels;  // options.labels that name no category
};

// `annoxml masks`: one mask PNG per frame, rendered on the run's threads, and categories.json,
// replacing the folder as a whole. Throws std::runtime_error, before reading, when the folder
// cannot be replaced (see MaskSetWriter).
ANNOXML_API MaskExportSummary ExportMasks(const StudyRun& run,
                                          const MaskSetWriter::Options& options);

struct YoloExportSummary : StudySummary {
    // Says that validation runs on the training images, when there is no val split.
    std::string validationNote;
    // Says that images were copied because symbolic links cannot be made here (Windows).
    std::string imagesNote;
};

// `annoxml yolo`: labels per frame, the images with options.imagesDir, and data.yaml, replacing
// the folder as a whole. Splits are named as YoloSplits names them. Throws, before reading,
// std::invalid_argument for a split YOLO trainers do not read, and std::runtime_error when the
// folder cannot be replaced (see YoloSetWriter).
ANNOXML_API YoloExportSummary ExportYolo(const StudyRun& run,
                                         const YoloSetWriter::Options& options);

}  // namespace annoxml
