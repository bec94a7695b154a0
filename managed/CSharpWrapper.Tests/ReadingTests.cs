using System;
using System.Collections.Generic;
using System.Linq;
using Wrapper = CSharpWrapper.AnnotationXmlUtilityWrapper;

namespace CSharpWrapper.Tests;

public class ReadingTests
{
    private static readonly string[] AreaKeys = { "center", "color", "description", "index", "label", "points" };
    private static readonly string[] LineKeys = { "center", "color", "description", "end_point", "index", "label", "start_point" };
    private static readonly string[] PathKeys = { "center", "color", "description", "index", "label", "points" };
    private static readonly string[] CobbKeys =
        { "angle_center", "angle_points", "color", "description", "index", "label", "polyline_center", "polyline_points" };

    // Operation, the keys of its first map in iteration order, the "description" of every map,
    // and one key with its value in the first map.
    public static TheoryData<string, string[], string[], string, string> ListOperations => new()
    {
        { "ParseLabelList", new[] { "LabelColor", "LabelDescription", "LabelDetail", "LabelType" },
          new[] { "raised lesion", "active" }, "LabelType", "polyp" },
        { "ParseMask", new[] { "color", "description", "index" },
          new[] { "lesion area", "second" }, "index", "1" },
        { "ParseRectangleAnnotations", AreaKeys, new[] { "box", "second box" }, "points", "10,20,20,20,20,30,10,30" },
        { "ParseCircleAnnotations", AreaKeys, new[] { "round" }, "center", "50,50" },
        { "ParseEllipseAnnotations",
          new[] { "axis_points", "center", "color", "description", "height_point", "index", "label", "points" },
          new[] { "oval" }, "axis_points", "80,100,120,100" },
        { "ParsePolygonAnnotations", new[] { "center", "color", "description", "index", "label", "mask_id", "points" },
          new[] { "in mask" }, "mask_id", "1" },
        { "ParseFreehandContourAnnotations", AreaKeys, new[] { "contour" }, "points", "1,1,9,1,9,9" },
        { "ParseLineAnnotations", LineKeys, new[] { "line" }, "end_point", "4,4" },
        { "ParseRulerAnnotations", LineKeys, new[] { "ruler" }, "start_point", "0,0" },
        { "ParseTextAnnotations",
          new[] { "backgroundColor", "content", "description", "index", "label", "labelColor", "position", "shadowColor", "textColor" },
          new[] { "note" }, "content", "check here" },
        { "ParseArrowTextAnnotations",
          new[] { "backgroundColor", "center", "color", "description", "end_point", "index", "label", "shadowColor", "start_point", "text", "textColor" },
          new[] { "arrow" }, "text", "look" },
        { "ParsePolyLineAnnotations", PathKeys, new[] { "path" }, "points", "0,0,2,2" },
        { "ParseFreehandPolyLineAnnotations", PathKeys, new[] { "scribble" }, "points", "3,3,5,5" },
        { "ParseAngleAnnotations", PathKeys, new[] { "angle" }, "points", "1,0,0,0,0,1" },
        { "ParsePointObjectAnnotations", new[] { "color", "description", "index", "label", "points" },
          new[] { "dot" }, "points", "8,8" },
        { "ParseCobbAngleAnnotations", CobbKeys, new[] { "cobb" }, "polyline_points", "0,0,2,4" },
        { "ParseDeviationAnnotations", CobbKeys, new[] { "deviation" }, "angle_center", "7,8" },
    };

    public static TheoryData<string> ListOperationNames =>
        new(ListOperations.Select(row => (string)row[0]));

    internal static List<Dictionary<string, string>> CallList(string operation, string path) =>
        (List<Dictionary<string, string>>)typeof(Wrapper).GetMethod(operation + "WithPath")!.Invoke(null, new object[] { path })!;

    [Fact]
    public void HeaderMapsHoldTheFileValuesInKeyOrder()
    {
        var image = Wrapper.ParseImageInformationWithPath(TestFiles.Full);
        Assert.Equal(new[] { "file_name", "height", "width" }, image.Keys);
        Assert.Equal(new[] { "frame_0001.png", "480", "640" }, image.Values);

        var user = Wrapper.ParseUserInformationWithPath(TestFiles.Full);
        Assert.Equal(new[] { "mode", "state", "time", "user_id" }, user.Keys);
        Assert.Equal(new[] { "edit", "done", "2024/05/06 10:11:12", "u17" }, user.Values);
    }

    [Theory]
    [MemberData(nameof(ListOperations))]
    public void ListOperationReadsEveryElementInDocumentOrder(
        string operation, string[] keys, string[] descriptions, string key, string value)
    {
        var list = CallList(operation, TestFiles.Full);

        Assert.Equal(keys, list[0].Keys);
        var descriptionKey = operation == "ParseLabelList" ? "LabelDescription" : "description";
        Assert.Equal(descriptions, list.Select(map => map[descriptionKey]));
        Assert.Equal(value, list[0][key]);
    }

    [Theory]
    [MemberData(nameof(ListOperationNames))]
    public void ListOperationGivesAnEmptyListForAFileWithoutSuchElements(string operation)
    {
        var list = CallList(operation, TestFiles.HeaderOnly);

        Assert.NotNull(list);
        Assert.Empty(list);
    }

    [Fact]
    public void MissingHeaderValuesReadAsEmptyTexts()
    {
        var image = Wrapper.ParseImageInformationWithPath(TestFiles.HeaderOnly);
        Assert.Equal(new[] { "file_name", "height", "width" }, image.Keys);
        Assert.All(image.Values, Assert.Empty);

        var user = Wrapper.ParseUserInformationWithPath(TestFiles.HeaderOnly);
        Assert.Equal(new[] { "", "", "", "u1" }, user.Values);
    }

    [Fact]
    public void AllAnnotationsHoldEveryKindInByteOrderWithTheListsOfTheSingleOperations()
    {
        var table = Wrapper.GetAllAnnotationsWithPath(TestFiles.Full);

        Assert.Equal(
            new[]
            {
                "Angle", "ArrowText", "Circle", "CobbAngle", "Deviation", "Ellipse", "FreehandContour",
                "FreehandPolyLine", "Line", "PointObject", "PolyLine", "Polygon", "Rectangle", "Ruler", "Text",
            },
            table.Keys);
        foreach (var (kind, list) in table)
        {
            Assert.Equal(CallList("Parse" + kind + "Annotations", TestFiles.Full), list);
        }
    }

    [Fact]
    public void AllAnnotationsOfAFileWithoutShapesAreFifteenEmptyLists()
    {
        var table = Wrapper.GetAllAnnotationsWithPath(TestFiles.HeaderOnly);

        Assert.Equal(15, table.Count);
        Assert.All(table.Values, list => Assert.Empty(list));
    }

    [Fact]
    public void EveryCallReturnsNewCollections()
    {
        var first = Wrapper.ParseMaskWithPath(TestFiles.Full);
        var second = Wrapper.ParseMaskWithPath(TestFiles.Full);

        Assert.NotSame(first, second);
        Assert.NotSame(first[0], second[0]);
        first[0]["index"] = "changed";
        Assert.Equal("1", second[0]["index"]);
    }
}
