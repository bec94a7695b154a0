using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Text.Json;
using System.Threading;

namespace CSharpWrapper.Tests;

/// <summary>
/// AnnotationDataset against the command-line tool given the same options: the tool is the
/// reference its users already trust. ANNOXML names the tool; without it, build/annoxml above the
/// test assembly is used.
/// </summary>
public class DatasetTests
{
    private static readonly string Study = TestFiles.Path("study");
    private static readonly string Findings = TestFiles.Path("findings");

    private static string Tool()
    {
        var named = Environment.GetEnvironmentVariable("ANNOXML");
        if (!string.IsNullOrEmpty(named))
        {
            return named;
        }

        for (var folder = new DirectoryInfo(AppContext.BaseDirectory); folder != null; folder = folder.Parent)
        {
            var candidate = Path.Combine(folder.FullName, "build", "annoxml");
            if (File.Exists(candidate))
            {
                return candidate;
            }
        }

        throw new InvalidOperationException("the annoxml tool was not found: build it (scripts/build) or set ANNOXML");
    }

    private static (int Status, string Output) RunTool(params string[] arguments)
    {
        var start = new ProcessStartInfo(Tool()) { RedirectStandardOutput = true, RedirectStandardError = true };
        foreach (var argument in arguments)
        {
            start.ArgumentList.Add(argument);
        }

        using var process = Process.Start(start);
        var errors = process.StandardError.ReadToEndAsync();
        var output = process.StandardOutput.ReadToEnd();
        process.WaitForExit();
        _ = errors.Result;
        return (process.ExitCode, output);
    }

    // Every file below the folder, by path relative to it, with its bytes.
    private static SortedDictionary<string, byte[]> Files(string folder)
    {
        var files = new SortedDictionary<string, byte[]>(StringComparer.Ordinal);
        foreach (var file in Directory.EnumerateFiles(folder, "*", SearchOption.AllDirectories))
        {
            files.Add(Path.GetRelativePath(folder, file), File.ReadAllBytes(file));
        }

        return files;
    }

    private static void AssertSameFiles(string expected, string actual)
    {
        var want = Files(expected);
        var got = Files(actual);
        Assert.NotEmpty(want);
        Assert.Equal(want.Keys, got.Keys);
        foreach (var name in want.Keys)
        {
            Assert.True(want[name].AsSpan().SequenceEqual(got[name]), name + " differs from the tool's");
        }
    }

    // The catalog options as AnnotationDatasetOptions and as the tool's arguments.
    public static TheoryData<string> Catalogs() => new() { "default", "renamed-split-by-folder", "split-by-file", "fixed-categories" };

    private static (AnnotationDatasetOptions Options, string[] Arguments) Catalog(string name, TempDirectory directory)
    {
        var options = new AnnotationDatasetOptions { Threads = 3 };
        switch (name)
        {
            case "renamed-split-by-folder":
                options.Renames.Add(new("ポリープ", "Polyp"));
                options.Splits.Add(new("train", 0.5));
                options.Splits.Add(new("val", 0.5));
                options.Seed = 3;
                options.GroupByFolder = true;
                return (options, new[] { "--rename", "ポリープ=Polyp", "--split", "train=0.5,val=0.5", "--seed", "3", "--group-by", "folder" });
            case "split-by-file":
                // Seeds 4 and 5 assign differently.
                options.Splits.Add(new("train", 0.5));
                options.Splits.Add(new("val", 0.5));
                options.Seed = 4;
                return (options, new[] { "--split", "train=0.5,val=0.5", "--seed", "4" });
            case "fixed-categories":
                options.Categories.Add(new DatasetCategory(7, "bleeding"));
                options.Categories.Add(new DatasetCategory(3, "Polyp", "lesion"));
                options.Categories.Add(new DatasetCategory(9, "ポリープ", "lesion"));
                var list = directory.File("categories.json");
                File.WriteAllText(list, "[{\"id\": 7, \"name\": \"bleeding\"}, {\"id\": 3, \"name\": \"Polyp\", \"supercategory\": \"lesion\"}, {\"id\": 9, \"name\": \"ポリープ\", \"supercategory\": \"lesion\"}]");
                return (options, new[] { "--categories", list });
            default:
                return (options, Array.Empty<string>());
        }
    }

    [Theory]
    [MemberData(nameof(Catalogs))]
    public void DataSetMasksAndYoloAreTheTools(string catalog)
    {
        using var directory = new TempDirectory("データ set");
        var (options, arguments) = Catalog(catalog, directory);
        var dataset = new AnnotationDataset(new[] { Study }, options);
        Directory.CreateDirectory(directory.File("tool"));
        Directory.CreateDirectory(directory.File("api"));

        Assert.Equal(0, RunTool(new[] { "dataset", Study, "-o", directory.File("tool/set.json"), "--indent", "2", "-q" }.Concat(arguments).ToArray()).Status);
        var written = dataset.WriteCocoDataset(directory.File("api/set.json"), indent: 2);
        Assert.Equal(12, written.Converted);
        Assert.Empty(written.Failures);

        Assert.Equal(0, RunTool(new[] { "masks", Study, "--out-dir", directory.File("tool/masks"), "--mode", "category", "--labels", "Polyp,ポリープ", "-q" }.Concat(arguments).ToArray()).Status);
        dataset.WriteMasks(directory.File("api/masks"), MaskMode.Category, new[] { "Polyp", "ポリープ" });

        Assert.Equal(0, RunTool(new[] { "yolo", Study, "--out-dir", directory.File("tool/yolo"), "--task", "segment", "-q" }.Concat(arguments).ToArray()).Status);
        dataset.WriteYolo(directory.File("api/yolo"), YoloTask.Segment);

        AssertSameFiles(directory.File("tool"), directory.File("api"));
    }

    [Theory]
    [InlineData(false)]
    [InlineData(true)]
    public void FindingsAreThoseOfCheckJson(bool renamed)
    {
        var options = new AnnotationDatasetOptions();
        var arguments = new List<string> { "check", Study, Findings, "--json" };
        if (renamed)
        {
            options.Renames.Add(new("Polpy", "bleeding"));
            options.Categories.Add(new DatasetCategory(1, "Polyp"));
            options.Categories.Add(new DatasetCategory(2, "bleeding"));
            arguments.AddRange(new[] { "--rename", "Polpy=bleeding", "--categories", TestFiles.Path("findings-categories.json") });
        }

        var (status, output) = RunTool(arguments.ToArray());
        Assert.Equal(1, status);
        var expected = output.Split('\n', StringSplitOptions.RemoveEmptyEntries).Select(line =>
        {
            using var json = JsonDocument.Parse(line);
            var root = json.RootElement;
            return (root.GetProperty("path").GetString(), root.GetProperty("severity").GetString(), root.GetProperty("message").GetString());
        }).ToList();

        var findings = new AnnotationDataset(new[] { Study, Findings }, options).Check();

        Assert.True(expected.Count >= 8, output);
        Assert.Equal(expected, findings.Select(f => (f.File, f.Severity == FindingSeverity.Error ? "error" : "warning", f.Message)));
    }

    /// <summary>An IProgress that receives on the reporting thread (Progress&lt;T&gt; posts elsewhere).</summary>
    private sealed class Recorder(Action<AnnotationProgress> then = null) : IProgress<AnnotationProgress>
    {
        public List<(int Done, int Count)> Reports { get; } = new();

        public void Report(AnnotationProgress value)
        {
            Reports.Add((value.FramesDone, value.FrameCount));
            then?.Invoke(value);
        }
    }

    private static readonly Func<AnnotationDataset, string, IProgress<AnnotationProgress>, CancellationToken, object>[] Operations =
    {
        (d, o, p, c) => d.WriteCocoDataset(o + ".json", progress: p, cancellationToken: c),
        (d, o, p, c) => d.WriteMasks(o, progress: p, cancellationToken: c),
        (d, o, p, c) => d.WriteYolo(o, progress: p, cancellationToken: c),
        (d, o, p, c) => d.Check(p, c),
    };

    [Fact]
    public void ProgressReachesTheFrameCount()
    {
        using var directory = new TempDirectory();
        var dataset = new AnnotationDataset(new[] { Study }, new AnnotationDatasetOptions { Threads = 2 });
        for (var i = 0; i < Operations.Length; i++)
        {
            var progress = new Recorder();
            Operations[i](dataset, directory.File("out" + i), progress, CancellationToken.None);
            Assert.Equal((0, 12), progress.Reports.First());
            Assert.Equal((12, 12), progress.Reports.Last());
            Assert.Equal(progress.Reports.OrderBy(r => r.Done), progress.Reports);
        }
    }

    [Fact]
    public void CancellationLeavesNoOutput()
    {
        using var directory = new TempDirectory();
        var dataset = new AnnotationDataset(new[] { Study });
        foreach (var operation in Operations)
        {
            using var cancellation = new CancellationTokenSource();
            var progress = new Recorder(report =>
            {
                if (report.FramesDone > 0)
                {
                    cancellation.Cancel();
                }
            });

            var error = Assert.ThrowsAny<OperationCanceledException>(() => operation(dataset, directory.File("out"), progress, cancellation.Token));

            Assert.Equal(cancellation.Token, error.CancellationToken);
            Assert.Empty(Directory.EnumerateFileSystemEntries(directory.Root));
            // Already cancelled: nothing starts.
            Assert.ThrowsAny<OperationCanceledException>(() => operation(dataset, directory.File("out"), null, cancellation.Token));
            Assert.Empty(Directory.EnumerateFileSystemEntries(directory.Root));
        }
    }

    [Fact]
    public void AFailedFileGivesItsFileAndWritesNothing()
    {
        using var directory = new TempDirectory();
        var bad = Path.Combine(Findings, "unknown.xml");
        var message = "Rectangle with Index 1: label \"Polpy\" is not in the label list";
        var dataset = new AnnotationDataset(new[] { Study, bad });

        var error = Assert.Throws<AnnotationDatasetException>(() => dataset.WriteCocoDataset(directory.File("set.json")));
        Assert.Equal(bad, error.File);
        Assert.Equal(message, error.Message);
        Assert.Equal(NativeErrorKind.RuntimeError, error.Kind);
        Assert.IsAssignableFrom<AnnotationXmlException>(error);
        Assert.Throws<AnnotationDatasetException>(() => dataset.WriteYolo(directory.File("yolo")));
        Assert.Empty(Directory.EnumerateFileSystemEntries(directory.Root));

        // Kept going, as the tool: the others are written and the failure listed.
        var kept = new AnnotationDataset(new[] { Study, bad }, new AnnotationDatasetOptions { SkipFailedFiles = true });
        var result = kept.WriteCocoDataset(directory.File("set.json"));
        Assert.Equal((12, 1), (result.Converted, result.Failed));
        Assert.Equal(bad, Assert.Single(result.Failures).File);
        Assert.Equal(1, RunTool("dataset", Study, bad, "-o", directory.File("tool.json"), "-q").Status);
        Assert.Equal(File.ReadAllBytes(directory.File("tool.json")), File.ReadAllBytes(directory.File("set.json")));
    }

    [Fact]
    public void BadOptionsAndOutputsGiveTheSameException()
    {
        using var directory = new TempDirectory();
        var options = new AnnotationDatasetOptions();
        options.Splits.Add(new("train", 0.5));
        options.Splits.Add(new("val", 0.4));
        var split = Assert.Throws<AnnotationDatasetException>(() => new AnnotationDataset(new[] { Study }, options).Check());
        Assert.Equal(("", "the shares add up to 0.900000, not 1", NativeErrorKind.InvalidArgument), (split.File, split.Message, split.Kind));

        var output = directory.File("no such folder/set.json");
        var unwritable = Assert.Throws<AnnotationDatasetException>(() => new AnnotationDataset(new[] { Study }).WriteCocoDataset(output));
        Assert.Equal(output, unwritable.File);

        Assert.Throws<ArgumentNullException>(() => new AnnotationDataset(new[] { Study }).WriteMasks(null));
    }
}
