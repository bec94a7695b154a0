using System;
using CSharpWrapper;

// Prints the labels of an annotation file, one "label TYPE: DESCRIPTION" line each. (The native
// library also writes the path of each file it loads to standard output, without a line end.)
// With a study folder, also checks it: "check: N findings".
if (args.Length is < 1 or > 2)
{
    Console.Error.WriteLine("usage: Consumer ANNOTATION_XML [STUDY_FOLDER]");
    return 2;
}

try
{
    var labels = AnnotationXmlUtilityWrapper.ParseLabelListWithPath(args[0]);
    foreach (var label in labels)
    {
        Console.WriteLine($"label {label["LabelType"]}: {label["LabelDescription"]}");
    }

    if (args.Length == 2)
    {
        Console.WriteLine($"check: {new AnnotationDataset(new[] { args[1] }).Check().Count} findings");
    }

    return 0;
}
catch (AnnotationXmlException error)
{
    Console.Error.WriteLine($"native {error.Kind}: {error.Message}");
    return 1;
}
