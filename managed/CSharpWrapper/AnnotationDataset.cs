using System;
using System.Collections.Generic;
using System.Globalization;
using System.Linq;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;

namespace CSharpWrapper
{
    /// <summary>
    /// A study: annotation files and folders searched for *.xml (sorted by path), read in that
    /// order, with the catalog options. Builds a COCO data set, checks the files, writes masks and
    /// YOLO labels exactly as the command-line tool's dataset, check, masks and yolo commands do
    /// with the same options, through the native library.
    /// </summary>
    /// <remarks>
    /// Every operation reads the inputs anew on <see cref="AnnotationDatasetOptions.Threads"/>
    /// threads and blocks until it is done. Progress is reported on the calling thread, at most
    /// once per percent of the files and always for the last one. An operation writes its output
    /// only when it is complete: when it is cancelled (<see cref="OperationCanceledException"/>)
    /// or fails (<see cref="AnnotationDatasetException"/>), the output path or folder is left as
    /// it was. Paths go to the native side as UTF-8; texts come back decoded as UTF-8.
    /// </remarks>
    public sealed class AnnotationDataset
    {
        /// <summary>Creates a study of the inputs, with default options when <paramref name="options"/> is null.</summary>
        /// <param name="inputs">Annotation files and folders, in reading order.</param>
        /// <param name="options">The catalog options; read when an operation starts.</param>
        public AnnotationDataset(IEnumerable<string> inputs, AnnotationDatasetOptions options = null)
        {
            if (inputs == null)
            {
                throw new ArgumentNullException(nameof(inputs));
            }

            Inputs = inputs.ToList().AsReadOnly();
            if (Inputs.Any(input => input == null))
            {
                throw new ArgumentNullException(nameof(inputs), "An input is null.");
            }

            Options = options ?? new AnnotationDatasetOptions();
        }

        /// <summary>The annotation files and folders, in reading order.</summary>
        public IReadOnlyList<string> Inputs { get; }

        /// <summary>The catalog options.</summary>
        public AnnotationDatasetOptions Options { get; }

        /// <summary>
        /// Builds a standard COCO instances file at <paramref name="outputPath"/> (`annoxml dataset`),
        /// or with splits one per split, named with "_NAME" before the extension.
        /// </summary>
        /// <param name="outputPath">The JSON file to write.</param>
        /// <param name="indent">Spaces per level for pretty output; -1 (the default) for compact.</param>
        /// <param name="progress">Receives the files done of the files listed.</param>
        /// <param name="cancellationToken">Cancels the run; nothing is written then.</param>
        /// <exception cref="AnnotationDatasetException">A file failed, an option is not valid, or the output cannot be written.</exception>
        /// <exception cref="OperationCanceledException">The run was cancelled.</exception>
        public AnnotationExportResult WriteCocoDataset(string outputPath, int indent = -1, IProgress<AnnotationProgress> progress = null, CancellationToken cancellationToken = default(CancellationToken))
        {
            byte[] output = Path(outputPath, nameof(outputPath));
            if (indent < -1 || indent > 16)
            {
                throw new ArgumentOutOfRangeException(nameof(indent), "indent is -1 (compact) or 0 to 16.");
            }

            return Export(progress, cancellationToken, (IntPtr study, out IntPtr result, out IntPtr file, out IntPtr message) =>
                DatasetNativeMethods.annoxml_WriteDataset(study, output, Interop.SizeOf(output), indent, out result, out file, out message));
        }

        /// <summary>
        /// Every problem of every file as the exports would meet them (`annoxml check`), in the order
        /// of `check --json`. Files with errors do not fail the call; nothing is written.
        /// </summary>
        /// <param name="progress">Receives the files done of the files listed.</param>
        /// <param name="cancellationToken">Cancels the run.</param>
        /// <exception cref="AnnotationDatasetException">An option is not valid, or (without <see cref="AnnotationDatasetOptions.SkipFailedFiles"/>) an input folder cannot be listed.</exception>
        /// <exception cref="OperationCanceledException">The run was cancelled.</exception>
        public IReadOnlyList<AnnotationFinding> Check(IProgress<AnnotationProgress> progress = null, CancellationToken cancellationToken = default(CancellationToken))
        {
            return Run(progress, cancellationToken, DatasetNativeMethods.annoxml_CheckStudy, Findings);
        }

        /// <summary>
        /// Writes one mask PNG per frame and categories.json below <paramref name="outDir"/>
        /// (`annoxml masks`), replacing the folder as a whole.
        /// </summary>
        /// <param name="outDir">The folder to write.</param>
        /// <param name="mode">What the pixels hold.</param>
        /// <param name="labels">Paint only these categories (names after renames); null or empty: all.</param>
        /// <param name="force">Replace a non-empty folder that annoxml did not write.</param>
        /// <param name="progress">Receives the files done of the files listed.</param>
        /// <param name="cancellationToken">Cancels the run; nothing is written then.</param>
        /// <exception cref="AnnotationDatasetException">A file failed, an option is not valid, or the folder cannot be replaced.</exception>
        /// <exception cref="OperationCanceledException">The run was cancelled.</exception>
        public AnnotationExportResult WriteMasks(string outDir, MaskMode mode = MaskMode.Binary, IEnumerable<string> labels = null, bool force = false, IProgress<AnnotationProgress> progress = null, CancellationToken cancellationToken = default(CancellationToken))
        {
            byte[] folder = Path(outDir, nameof(outDir));
            var names = (labels ?? Enumerable.Empty<string>()).Select(label => Text(label, nameof(labels))).ToList();
            byte[] joined = names.SelectMany(name => name.Take(name.Length - 1)).ToArray();
            UIntPtr[] sizes = names.Select(name => Interop.SizeOf(name)).ToArray();
            return Export(progress, cancellationToken, (IntPtr study, out IntPtr result, out IntPtr file, out IntPtr message) =>
                DatasetNativeMethods.annoxml_WriteMasks(
                    study, folder, Interop.SizeOf(folder), (int)mode, joined, sizes, new UIntPtr((uint)sizes.Length), force ? 1 : 0, out result, out file, out message));
        }

        /// <summary>
        /// Writes a YOLO training set below <paramref name="outDir"/> (`annoxml yolo`): labels per
        /// frame, data.yaml and, with <paramref name="imagesDir"/>, the images.
        /// </summary>
        /// <param name="outDir">The folder to write.</param>
        /// <param name="task">Boxes or outlines.</param>
        /// <param name="imagesDir">Where the images lie; null: labels and data.yaml only.</param>
        /// <param name="copyImages">Copy the images instead of linking them.</param>
        /// <param name="force">Replace a non-empty folder that annoxml did not write.</param>
        /// <param name="progress">Receives the files done of the files listed.</param>
        /// <param name="cancellationToken">Cancels the run; nothing is written then.</param>
        /// <exception cref="AnnotationDatasetException">A file failed (its image missing included), a split other than train, val or test, or the folder cannot be replaced.</exception>
        /// <exception cref="OperationCanceledException">The run was cancelled.</exception>
        public AnnotationExportResult WriteYolo(string outDir, YoloTask task = YoloTask.Detect, string imagesDir = null, bool copyImages = false, bool force = false, IProgress<AnnotationProgress> progress = null, CancellationToken cancellationToken = default(CancellationToken))
        {
            byte[] folder = Path(outDir, nameof(outDir));
            byte[] images = imagesDir == null ? null : Interop.ToNarrowPath(imagesDir);
            UIntPtr imagesSize = images == null ? UIntPtr.Zero : Interop.SizeOf(images);
            return Export(progress, cancellationToken, (IntPtr study, out IntPtr result, out IntPtr file, out IntPtr message) =>
                DatasetNativeMethods.annoxml_WriteYolo(
                    study, folder, Interop.SizeOf(folder), (int)task, images, imagesSize, copyImages ? 1 : 0, force ? 1 : 0, out result, out file, out message));
        }

        private delegate NativeStatus NativeRun(IntPtr study, out IntPtr result, out IntPtr errorFile, out IntPtr errorMessage);

        private static byte[] Path(string path, string name)
        {
            if (path == null)
            {
                throw new ArgumentNullException(name);
            }

            return Interop.ToNarrowPath(path);
        }

        private static byte[] Text(string text, string name)
        {
            if (text == null)
            {
                throw new ArgumentNullException(name);
            }

            return Interop.ToNarrowPath(text);
        }

        private AnnotationExportResult Export(IProgress<AnnotationProgress> progress, CancellationToken cancellationToken, NativeRun run)
        {
            return Run(progress, cancellationToken, run, result =>
            {
                UIntPtr converted;
                UIntPtr failed;
                UIntPtr errors;
                UIntPtr warnings;
                DatasetNativeMethods.annoxml_study_result_counts(result, out converted, out failed, out errors, out warnings);
                return new AnnotationExportResult(checked((int)converted.ToUInt64()), checked((int)failed.ToUInt64()), Findings(result));
            });
        }

        // Builds the native study, runs it with progress and cancellation, converts its result and
        // releases everything native.
        private T Run<T>(IProgress<AnnotationProgress> progress, CancellationToken cancellationToken, NativeRun run, Func<IntPtr, T> convert)
        {
            cancellationToken.ThrowIfCancellationRequested();
            IntPtr study = DatasetNativeMethods.annoxml_study_new();
            if (study == IntPtr.Zero)
            {
                throw new OutOfMemoryException("annoxml: no memory for a study");
            }

            try
            {
                Configure(study);
                var reporter = new ProgressReporter(study, progress);
                NativeProgress callback = reporter.Report;
                DatasetNativeMethods.annoxml_study_set_progress(study, callback, IntPtr.Zero);
                NativeStatus status;
                IntPtr result;
                IntPtr errorFile;
                IntPtr errorMessage;
                using (cancellationToken.Register(() => DatasetNativeMethods.annoxml_study_cancel(study)))
                {
                    status = run(study, out result, out errorFile, out errorMessage);
                }

                GC.KeepAlive(callback);
                try
                {
                    reporter.ThrowIfFailed();
                    if (status == DatasetNativeMethods.Cancelled)
                    {
                        throw new OperationCanceledException(cancellationToken);
                    }

                    ThrowIfFailed(status, errorFile, errorMessage);
                    return convert(result);
                }
                finally
                {
                    DatasetNativeMethods.annoxml_study_result_free(result);
                    NativeMethods.annoxml_error_message_free(errorFile);
                    NativeMethods.annoxml_error_message_free(errorMessage);
                }
            }
            finally
            {
                DatasetNativeMethods.annoxml_study_free(study);
            }
        }

        private void Configure(IntPtr study)
        {
            IntPtr errorMessage;
            foreach (string input in Inputs)
            {
                byte[] path = Interop.ToNarrowPath(input);
                Check(DatasetNativeMethods.annoxml_study_add_input(study, path, Interop.SizeOf(path), out errorMessage), errorMessage);
            }

            foreach (var rename in Options.Renames)
            {
                byte[] from = Text(rename.Key, "Renames");
                byte[] to = Text(rename.Value, "Renames");
                Check(DatasetNativeMethods.annoxml_study_add_rename(study, from, Interop.SizeOf(from), to, Interop.SizeOf(to), out errorMessage), errorMessage);
            }

            foreach (var category in Options.Categories)
            {
                if (category == null)
                {
                    throw new ArgumentNullException("Categories", "A category is null.");
                }

                byte[] name = Text(category.Name, "Categories");
                byte[] supercategory = category.Supercategory == null ? null : Interop.ToNarrowPath(category.Supercategory);
                UIntPtr supercategorySize = supercategory == null ? UIntPtr.Zero : Interop.SizeOf(supercategory);
                Check(DatasetNativeMethods.annoxml_study_add_category(study, category.Id, name, Interop.SizeOf(name), supercategory, supercategorySize, out errorMessage), errorMessage);
            }

            // The tool's --split text: NAME=SHARE, comma-separated, shares in full precision.
            string splits = string.Join(",", Options.Splits.Select(split => split.Key + "=" + split.Value.ToString("R", CultureInfo.InvariantCulture)));
            byte[] splitText = Interop.ToNarrowPath(splits);
            Check(DatasetNativeMethods.annoxml_study_set_splits(study, splitText, Interop.SizeOf(splitText), out errorMessage), errorMessage);
            DatasetNativeMethods.annoxml_study_set_seed(study, Options.Seed);
            DatasetNativeMethods.annoxml_study_set_group_by_folder(study, Options.GroupByFolder ? 1 : 0);
            if (Options.Threads < 0)
            {
                throw new ArgumentOutOfRangeException("Threads", "Threads is 0 (one per hardware thread) or more.");
            }

            DatasetNativeMethods.annoxml_study_set_threads(study, (uint)Options.Threads);
            DatasetNativeMethods.annoxml_study_set_keep_going(study, Options.SkipFailedFiles ? 1 : 0);
        }

        private static void Check(NativeStatus status, IntPtr errorMessage)
        {
            try
            {
                ThrowIfFailed(status, IntPtr.Zero, errorMessage);
            }
            finally
            {
                NativeMethods.annoxml_error_message_free(errorMessage);
            }
        }

        // Throws the native failure, if any; the caller frees the texts.
        private static void ThrowIfFailed(NativeStatus status, IntPtr errorFile, IntPtr errorMessage)
        {
            if (status == NativeStatus.Ok)
            {
                return;
            }

            string file = NativeText(errorFile);
            string message = NativeText(errorMessage);
            NativeErrorKind kind;
            switch (status)
            {
                case NativeStatus.RuntimeError:
                    kind = NativeErrorKind.RuntimeError;
                    break;
                case NativeStatus.OutOfRange:
                    kind = NativeErrorKind.OutOfRange;
                    break;
                case NativeStatus.InvalidArgument:
                    kind = NativeErrorKind.InvalidArgument;
                    break;
                default:
                    kind = NativeErrorKind.Other;
                    break;
            }

            throw new AnnotationDatasetException(file, message, kind);
        }

        // A zero-terminated native text, "" for none.
        private static string NativeText(IntPtr text)
        {
            if (text == IntPtr.Zero)
            {
                return string.Empty;
            }

            int length = 0;
            while (Marshal.ReadByte(text, length) != 0)
            {
                length++;
            }

            return Interop.ToManagedString(text, new UIntPtr((uint)length));
        }

        private static IReadOnlyList<AnnotationFinding> Findings(IntPtr result)
        {
            var findings = new List<AnnotationFinding>();
            ulong count = DatasetNativeMethods.annoxml_study_result_size(result).ToUInt64();
            for (ulong index = 0; index < count; index++)
            {
                IntPtr file;
                UIntPtr fileSize;
                int severity;
                IntPtr message;
                UIntPtr messageSize;
                DatasetNativeMethods.annoxml_study_result_finding(result, new UIntPtr(index), out file, out fileSize, out severity, out message, out messageSize);
                findings.Add(new AnnotationFinding(
                    Interop.ToManagedString(file, fileSize),
                    severity == DatasetNativeMethods.SeverityWarning ? FindingSeverity.Warning : FindingSeverity.Error,
                    Interop.ToManagedString(message, messageSize)));
            }

            return findings.AsReadOnly();
        }

        // Passes native progress to an IProgress<T> at most once per percent; an exception of the
        // receiver cancels the run and is thrown when it returns.
        private sealed class ProgressReporter
        {
            private readonly IntPtr study;
            private readonly IProgress<AnnotationProgress> progress;
            private long lastPercent = -1;
            private Exception failure;

            internal ProgressReporter(IntPtr study, IProgress<AnnotationProgress> progress)
            {
                this.study = study;
                this.progress = progress;
            }

            internal void Report(IntPtr context, UIntPtr done, UIntPtr total)
            {
                if (progress == null || failure != null)
                {
                    return;
                }

                long framesDone = (long)done.ToUInt64();
                long frameCount = (long)total.ToUInt64();
                long percent = frameCount == 0 ? 100 : framesDone * 100 / frameCount;
                if (percent == lastPercent && framesDone != frameCount)
                {
                    return;
                }

                lastPercent = percent;
                try
                {
                    progress.Report(new AnnotationProgress(checked((int)framesDone), checked((int)frameCount)));
                }
                catch (Exception error)
                {
                    failure = error;
                    DatasetNativeMethods.annoxml_study_cancel(study);
                }
            }

            internal void ThrowIfFailed()
            {
                if (failure != null)
                {
                    System.Runtime.ExceptionServices.ExceptionDispatchInfo.Capture(failure).Throw();
                }
            }
        }
    }
}
