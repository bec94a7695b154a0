using System;
using CSharpWrapper;

// Prints the labels of an annotation file, one "label TYPE: DESCRIPTION" line each. (The native
// library also writes the path of each file it loads to standard output, without a line end.)
if (args.Length != 1)
{
    Console.Error.WriteLine("usage: Consumer ANNOTATION_XML");
    return 2;
}

try
{
    var labels = AnnotationXmlUtilityWrapper.ParseLabelListWithPath(args[0]);
    foreach (var label in labels)
    {
        Console.WriteLine($"label {label["LabelType"]}: {label["LabelDescription"]}");
    }

    return 0;
}
catch (AnnotationXmlException error)
{
    Console.Error.WriteLine($"native {error.Kind}: {error.Message}");
    return 1;
}
