using System.IO;
using Wrapper = CSharpWrapper.AnnotationXmlUtilityWrapper;

namespace CSharpWrapper.Tests;

public class TextTests
{
    [Fact]
    public void NonAsciiValuesArriveAsUtf8Text()
    {
        var image = Wrapper.ParseImageInformationWithPath(TestFiles.Unicode);
        var user = Wrapper.ParseUserInformationWithPath(TestFiles.Unicode);
        var label = Wrapper.ParseLabelListWithPath(TestFiles.Unicode)[0];
        var rectangle = Wrapper.ParseRectangleAnnotationsWithPath(TestFiles.Unicode)[0];

        Assert.Equal("画像_0001.png", image["file_name"]);
        Assert.Equal("müller", user["user_id"]);
        Assert.Equal("ポリープ", label["LabelType"]);
        Assert.Equal("Läsion", label["LabelDetail"]);
        Assert.Equal("érosion", label["LabelDescription"]);
        Assert.Equal("ポリープ", rectangle["label"]);
        Assert.Equal("Größe", rectangle["description"]);
    }

    [Fact]
    public void NonAsciiPathReachesTheFile()
    {
        using var directory = new TempDirectory("données-画像");
        var path = directory.File("注釈 ü.xml");
        File.Copy(TestFiles.Unicode, path);

        var table = Wrapper.GetAllAnnotationsWithPath(path);

        Assert.Equal("Größe", Assert.Single(table["Rectangle"])["description"]);
    }

    [Fact]
    public void UnencodableCharacterInAPathBecomesAQuestionMark()
    {
        using var directory = new TempDirectory();
        File.Copy(TestFiles.Full, directory.File("a?b.xml"));

        var masks = Wrapper.ParseMaskWithPath(directory.File("a\uD800b.xml"));

        Assert.Equal(2, masks.Count);
    }
}
