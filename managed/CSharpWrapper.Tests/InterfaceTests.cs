using System;
using System.Collections.Generic;
using System.Linq;
using System.Reflection;

namespace CSharpWrapper.Tests;

public class InterfaceTests
{
    [Fact]
    public void WrapperOffersTheOperationsUnderTheirNamesWithTheirParameterNames()
    {
        var type = typeof(AnnotationXmlUtilityWrapper);
        var operations = type.GetMethods(BindingFlags.Public | BindingFlags.Static | BindingFlags.DeclaredOnly)
            .OrderBy(method => method.MetadataToken)
            .Select(method => method.Name + "(" + string.Join(",", method.GetParameters().Select(p => p.Name)) + ")");

        var expected = new[]
        {
            "ParseImageInformation", "ParseUserInformation", "ParseLabelList", "ParseMask",
            "ParseRectangleAnnotations", "ParseCircleAnnotations", "ParseEllipseAnnotations",
            "ParsePolygonAnnotations", "ParseFreehandContourAnnotations", "ParseLineAnnotations",
            "ParseRulerAnnotations", "ParseTextAnnotations", "ParseArrowTextAnnotations",
            "ParsePolyLineAnnotations", "ParseFreehandPolyLineAnnotations", "ParseAngleAnnotations",
            "ParsePointObjectAnnotations", "ParseCobbAngleAnnotations", "ParseDeviationAnnotations",
            "GetAllAnnotations",
        }.Select(name => name + "WithPath(path)").Append("GenerateCOCOJsonWithPath(path,output_path)");
        Assert.Equal(expected, operations);
    }

    [Fact]
    public void WrapperIsAPlainStatelessClass()
    {
        var type = typeof(AnnotationXmlUtilityWrapper);

        Assert.False(type.IsSealed || type.IsAbstract);
        Assert.Equal(typeof(object), type.BaseType);
        Assert.Empty(type.GetInterfaces());
        Assert.Empty(type.GetFields(BindingFlags.Public | BindingFlags.NonPublic | BindingFlags.Static | BindingFlags.Instance));
        Assert.NotNull(new AnnotationXmlUtilityWrapper());
        var converter = type.GetMethod("ConvertNativeVectorMapToManagedListDictionary", BindingFlags.NonPublic | BindingFlags.Static);
        Assert.Equal(typeof(List<Dictionary<string, string>>), converter!.ReturnType);
    }
}
