using System;
using System.IO;
using Wrapper = CSharpWrapper.AnnotationXmlUtilityWrapper;

namespace CSharpWrapper.Tests;

public class ErrorTests
{
    private const string NullText = "NULLPTR is not supported for this conversion.";
    private const string NotFound = "Failed to load xml file: File was not found";

    private static readonly string Output = Path.Combine(Path.GetTempPath(), "annoxml-never-written.json");

    public static TheoryData<string, Action<string>> Operations()
    {
        var data = new TheoryData<string, Action<string>>
        {
            { "ParseImageInformation", path => Wrapper.ParseImageInformationWithPath(path) },
            { "ParseUserInformation", path => Wrapper.ParseUserInformationWithPath(path) },
            { "GetAllAnnotations", path => Wrapper.GetAllAnnotationsWithPath(path) },
            { "GenerateCOCOJson", path => Wrapper.GenerateCOCOJsonWithPath(path, Output) },
        };
        foreach (var operation in ReadingTests.ListOperationNames)
        {
            data.Add(operation, path => ReadingTests.CallList(operation, path));
        }

        return data;
    }

    private static Exception Unwrap(Exception error) =>
        error is System.Reflection.TargetInvocationException { InnerException: { } inner } ? inner : error;

    [Theory]
    [MemberData(nameof(Operations))]
    public void NullPathIsRefusedBeforeTheNativeCall(string operation, Action<string> call)
    {
        _ = operation;
        var error = Assert.IsType<ArgumentNullException>(Unwrap(Record.Exception(() => call(null))));

        Assert.Equal(NullText, error.ParamName);
    }

    [Theory]
    [MemberData(nameof(Operations))]
    public void NativeLoadFailurePassesWithItsText(string operation, Action<string> call)
    {
        foreach (var path in new[] { "", TestFiles.Path("missing.xml") })
        {
            var error = Assert.IsType<AnnotationXmlException>(Unwrap(Record.Exception(() => call(path))));

            Assert.Equal(NotFound, error.Message);
            Assert.Equal(NativeErrorKind.RuntimeError, error.Kind);
        }

        Assert.False(File.Exists(Output), operation);
    }

    [Fact]
    public void MissingUserIsANativeRuntimeError()
    {
        var error = Assert.Throws<AnnotationXmlException>(() => Wrapper.ParseUserInformationWithPath(TestFiles.Path("no_user.xml")));

        Assert.Equal("Invalid xml format", error.Message);
        Assert.Equal(NativeErrorKind.RuntimeError, error.Kind);
    }

    [Theory]
    [InlineData("unknown_label.xml", NativeErrorKind.OutOfRange, "invalid map<K, T> key")]
    [InlineData("no_user.xml", NativeErrorKind.RuntimeError, "Invalid xml format")]
    [InlineData("invalid_utf8.xml", NativeErrorKind.Other, "[json.exception.type_error.316] invalid UTF-8 byte")]
    public void ConversionFailureKeepsTheNativeKindAndWritesNothing(string file, NativeErrorKind kind, string messageStart)
    {
        using var directory = new TempDirectory();
        var output = directory.File("out.json");

        var error = Assert.Throws<AnnotationXmlException>(() => Wrapper.GenerateCOCOJsonWithPath(TestFiles.Path(file), output));

        Assert.Equal(kind, error.Kind);
        Assert.StartsWith(messageStart, error.Message);
        Assert.False(File.Exists(output));
    }

    [Fact]
    public void UnwritableOutputIsANativeRuntimeError()
    {
        using var directory = new TempDirectory();
        var output = directory.File("no-such-folder/out.json");

        var error = Assert.Throws<AnnotationXmlException>(() => Wrapper.GenerateCOCOJsonWithPath(TestFiles.Full, output));

        Assert.Equal(NativeErrorKind.RuntimeError, error.Kind);
        Assert.StartsWith("Cannot write " + output + ": ", error.Message);
    }

    [Fact]
    public void NullOutputPathIsRefused()
    {
        var error = Assert.Throws<ArgumentNullException>(() => Wrapper.GenerateCOCOJsonWithPath(TestFiles.Full, null));

        Assert.Equal(NullText, error.ParamName);
    }
}
