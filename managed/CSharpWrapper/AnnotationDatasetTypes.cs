using System;
using System.Collections.Generic;

namespace CSharpWrapper
{
    /// <summary>
    /// The catalog of a study, as the tool's --rename, --categories, --split, --seed and --group-by
    /// give it, and how a run reads and treats failed files.
    /// </summary>
    public sealed class AnnotationDatasetOptions
    {
        /// <summary>Label renames OLD → NEW, applied before categories are resolved (spelling variants merge).</summary>
        public IList<KeyValuePair<string, string>> Renames { get; } = new List<KeyValuePair<string, string>>();

        /// <summary>
        /// A fixed category list whose ids are kept; a shape with another label fails its file. Empty:
        /// the categories are the label names in order of first appearance, ids from 1.
        /// </summary>
        public IList<DatasetCategory> Categories { get; } = new List<DatasetCategory>();

        /// <summary>
        /// Named shares that add up to 1 ("train" 0.8, "val" 0.2); each frame is assigned by a stable
        /// hash of its file (or folder), so adding frames never moves others. Empty: one data set.
        /// </summary>
        public IList<KeyValuePair<string, double>> Splits { get; } = new List<KeyValuePair<string, double>>();

        /// <summary>Seed of the split assignment.</summary>
        public ulong Seed { get; set; }

        /// <summary>Assign splits per folder, so that one recording or patient stays in one split.</summary>
        public bool GroupByFolder { get; set; }

        /// <summary>Files read at the same time; 0 (the default) for one per hardware thread.</summary>
        public int Threads { get; set; }

        /// <summary>
        /// False (the default): the first file that fails fails the whole operation, and nothing is
        /// written. True: as the command-line tool, failed files are left out and listed in
        /// <see cref="AnnotationExportResult.Failures"/>.
        /// </summary>
        public bool SkipFailedFiles { get; set; }
    }

    /// <summary>One category of a fixed category list.</summary>
    public sealed class DatasetCategory
    {
        /// <summary>Creates a category.</summary>
        public DatasetCategory(int id, string name, string supercategory = null)
        {
            Id = id;
            Name = name ?? throw new ArgumentNullException(nameof(name));
            Supercategory = supercategory;
        }

        /// <summary>The id the data set gives it.</summary>
        public int Id { get; }

        /// <summary>The label name (after renames).</summary>
        public string Name { get; }

        /// <summary>The supercategory, or null for none.</summary>
        public string Supercategory { get; }
    }

    /// <summary>How serious a finding is.</summary>
    public enum FindingSeverity
    {
        /// <summary>Would fail the file in an export.</summary>
        Error = 0,

        /// <summary>Taken or left out by the exports, but likely a mistake.</summary>
        Warning = 1,
    }

    /// <summary>One problem of one annotation file.</summary>
    public sealed class AnnotationFinding
    {
        /// <summary>Creates a finding.</summary>
        public AnnotationFinding(string file, FindingSeverity severity, string message)
        {
            File = file;
            Severity = severity;
            Message = message;
        }

        /// <summary>The annotation file as listed from the inputs ("" for an input folder that could not be listed).</summary>
        public string File { get; }

        /// <summary>Error or warning.</summary>
        public FindingSeverity Severity { get; }

        /// <summary>The problem, without the file: "Polygon with Index 2: partly outside the 640x480 image".</summary>
        public string Message { get; }

        /// <inheritdoc/>
        public override string ToString() => File + ": " + (Severity == FindingSeverity.Error ? "error" : "warning") + ": " + Message;
    }

    /// <summary>How far a run is: files done of the files listed.</summary>
    public sealed class AnnotationProgress
    {
        /// <summary>Creates a progress report.</summary>
        public AnnotationProgress(int framesDone, int frameCount)
        {
            FramesDone = framesDone;
            FrameCount = frameCount;
        }

        /// <summary>Annotation files read and used, or failed, so far.</summary>
        public int FramesDone { get; }

        /// <summary>Annotation files listed from the inputs.</summary>
        public int FrameCount { get; }
    }

    /// <summary>What an export did.</summary>
    public sealed class AnnotationExportResult
    {
        internal AnnotationExportResult(int converted, int failed, IReadOnlyList<AnnotationFinding> failures)
        {
            Converted = converted;
            Failed = failed;
            Failures = failures;
        }

        /// <summary>Files read and written.</summary>
        public int Converted { get; }

        /// <summary>Files that failed and were left out (only with <see cref="AnnotationDatasetOptions.SkipFailedFiles"/>).</summary>
        public int Failed { get; }

        /// <summary>Why each failed file failed, in input order.</summary>
        public IReadOnlyList<AnnotationFinding> Failures { get; }
    }

    /// <summary>What a mask's pixels hold.</summary>
    public enum MaskMode
    {
        /// <summary>8-bit, 255 on any region.</summary>
        Binary = 0,

        /// <summary>The region's category id (16-bit when an id exceeds 255).</summary>
        Category = 1,

        /// <summary>16-bit, the region's number within the frame from 1.</summary>
        Instance = 2,
    }

    /// <summary>What a YOLO label line holds.</summary>
    public enum YoloTask
    {
        /// <summary>"class cx cy w h" per region.</summary>
        Detect = 0,

        /// <summary>"class x1 y1 x2 y2 ..." per region.</summary>
        Segment = 1,
    }

    /// <summary>
    /// A failure of a whole-study operation: <see cref="Exception.Message"/> is the native message
    /// (without the file) and <see cref="File"/> the annotation file or output it concerns ("" when
    /// it concerns none, as for an option that is not valid).
    /// </summary>
    public class AnnotationDatasetException : AnnotationXmlException
    {
        /// <summary>Creates the exception for a native failure.</summary>
        public AnnotationDatasetException(string file, string message, NativeErrorKind kind)
            : base(message, kind)
        {
            File = file ?? string.Empty;
        }

        /// <summary>The file the failure concerns, or "".</summary>
        public string File { get; }
    }
}
