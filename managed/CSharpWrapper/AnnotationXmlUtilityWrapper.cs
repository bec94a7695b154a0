using System;
using System.Collections.Generic;

namespace CSharpWrapper
{
    /// <summary>
    /// Reads endoscopy annotation XML files by path and converts them to COCO-style JSON, through
    /// the native library libannoxml. Every operation loads the file anew, returns new collections
    /// (never null) whose entries follow the native order, and releases all native memory before it
    /// returns. Paths go to the native side as UTF-8 (a character that cannot be encoded becomes
    /// "?"); result texts are decoded as UTF-8. A null path raises <see cref="ArgumentNullException"/>
    /// before any native call; a native failure raises <see cref="AnnotationXmlException"/> with the
    /// native message unchanged.
    /// </summary>
    public class AnnotationXmlUtilityWrapper
    {
        /// <summary>Creates an instance; all operations are static, so it carries nothing.</summary>
        public AnnotationXmlUtilityWrapper()
        {
        }

        /// <summary>The image information: "file_name", "height" and "width".</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static Dictionary<string, string> ParseImageInformationWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseImageInformation, Interop.ToDictionary, NativeMethods.annoxml_field_map_free);
        }

        /// <summary>The annotating user: "mode", "state", "time" and "user_id".</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static Dictionary<string, string> ParseUserInformationWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseUserInformation, Interop.ToDictionary, NativeMethods.annoxml_field_map_free);
        }

        /// <summary>The labels of every <c>LabelList</c>, one dictionary per <c>Label</c>.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParseLabelListWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseLabelList, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The masks, one dictionary per <c>Mask</c> element.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParseMaskWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseMask, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>Rectangle</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParseRectangleAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseRectangleAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>Circle</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParseCircleAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseCircleAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>Ellipse</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParseEllipseAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseEllipseAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>Polygon</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParsePolygonAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParsePolygonAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>FreehandContour</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParseFreehandContourAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseFreehandContourAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>Line</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParseLineAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseLineAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>Ruler</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParseRulerAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseRulerAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>Text</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParseTextAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseTextAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>ArrowText</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParseArrowTextAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseArrowTextAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>PolyLine</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParsePolyLineAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParsePolyLineAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>FreehandPolyLine</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParseFreehandPolyLineAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseFreehandPolyLineAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>Angle</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParseAngleAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseAngleAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>PointObject</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParsePointObjectAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParsePointObjectAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>CobbAngle</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParseCobbAngleAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseCobbAngleAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>The <c>Deviation</c> shapes, one dictionary per element, in document order.</summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static List<Dictionary<string, string>> ParseDeviationAnnotationsWithPath(string path)
        {
            return Interop.ReadAndRelease(path, NativeMethods.annoxml_ParseDeviationAnnotations, ConvertNativeVectorMapToManagedListDictionary, NativeMethods.annoxml_field_map_list_free);
        }

        /// <summary>
        /// All fifteen shape kinds at once, keyed by kind name ("Angle" ... "Text"), a kind without
        /// shapes with an empty list. The file is loaded once.
        /// </summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native library failed, for example on a file that cannot be loaded.</exception>
        public static Dictionary<string, List<Dictionary<string, string>>> GetAllAnnotationsWithPath(string path)
        {
            IntPtr nativeResult = Interop.Read(path, NativeMethods.annoxml_GetAllAnnotations);
            try
            {
                var table = new Dictionary<string, List<Dictionary<string, string>>>();
                ulong count = NativeMethods.annoxml_annotation_table_size(nativeResult).ToUInt64();
                for (ulong index = 0; index < count; index++)
                {
                    IntPtr kind;
                    UIntPtr kindSize;
                    IntPtr list;
                    NativeMethods.annoxml_annotation_table_entry(nativeResult, new UIntPtr(index), out kind, out kindSize, out list);
                    string managedKind = Interop.ToManagedString(kind, kindSize);
                    table.Add(managedKind, ConvertNativeVectorMapToManagedListDictionary(list));
                }

                return table;
            }
            finally
            {
                NativeMethods.annoxml_annotation_table_free(nativeResult);
            }
        }

        /// <summary>
        /// Converts the annotation file at <paramref name="path"/> into a COCO-style JSON file at
        /// <paramref name="output_path"/>. <paramref name="path"/> is converted before
        /// <paramref name="output_path"/>; nothing is written when either is null.
        /// </summary>
        /// <param name="path">Path of the annotation XML file.</param>
        /// <param name="output_path">Path of the JSON file to write.</param>
        /// <exception cref="ArgumentNullException"><paramref name="path"/> or <paramref name="output_path"/> is null.</exception>
        /// <exception cref="AnnotationXmlException">The native conversion failed.</exception>
        public static void GenerateCOCOJsonWithPath(string path, string output_path)
        {
            byte[] narrowPath = Interop.ToNarrowPath(path);
            byte[] narrowOutputPath = Interop.ToNarrowPath(output_path);
            IntPtr errorMessage;
            NativeStatus status = NativeMethods.annoxml_GenerateCOCOJson(
                narrowPath, Interop.SizeOf(narrowPath), narrowOutputPath, Interop.SizeOf(narrowOutputPath), out errorMessage);
            Interop.ThrowIfFailed(status, errorMessage);
        }

        // A native FieldMapList (borrowed) as a new list of new dictionaries, in native order.
        private static List<Dictionary<string, string>> ConvertNativeVectorMapToManagedListDictionary(IntPtr nativeResult)
        {
            var list = new List<Dictionary<string, string>>();
            ulong count = NativeMethods.annoxml_field_map_list_size(nativeResult).ToUInt64();
            for (ulong index = 0; index < count; index++)
            {
                list.Add(Interop.ToDictionary(NativeMethods.annoxml_field_map_list_at(nativeResult, new UIntPtr(index))));
            }

            return list;
        }
    }
}
