using System.IO;
using System.Linq;
using System.Text.Json;
using Wrapper = CSharpWrapper.AnnotationXmlUtilityWrapper;

namespace CSharpWrapper.Tests;

public class CocoTests
{
    [Fact]
    public void ConversionWritesTheJsonFile()
    {
        using var directory = new TempDirectory();
        var output = directory.File("full.json");

        Wrapper.GenerateCOCOJsonWithPath(TestFiles.Full, output);

        var text = File.ReadAllText(output);
        Assert.StartsWith("{\n    \"info\": {", text);
        using var json = JsonDocument.Parse(text);
        var root = json.RootElement;
        Assert.Equal(
            new[] { "info", "license", "images", "categories", "masks", "annotations" },
            root.EnumerateObject().Select(property => property.Name));
        Assert.Equal("frame_0001.png", root.GetProperty("images").GetProperty("file_name").GetString());
        Assert.Equal(
            new[] { "polyp", "bleeding" },
            root.GetProperty("categories").EnumerateArray().Select(category => category.GetProperty("name").GetString()));
        Assert.Equal(2, root.GetProperty("masks").GetArrayLength());
        // Two rectangles, one circle, one polygon.
        Assert.Equal(4, root.GetProperty("annotations").GetArrayLength());
    }

    [Fact]
    public void ConversionOfNonAsciiNamesToANonAsciiPath()
    {
        using var directory = new TempDirectory("出力");
        var output = directory.File("結果 é.json");

        Wrapper.GenerateCOCOJsonWithPath(TestFiles.Unicode, output);

        using var json = JsonDocument.Parse(File.ReadAllText(output));
        var category = Assert.Single(json.RootElement.GetProperty("categories").EnumerateArray());
        Assert.Equal("ポリープ", category.GetProperty("name").GetString());
        Assert.Equal(1, json.RootElement.GetProperty("annotations").GetArrayLength());
    }
}
