using System;
using System.Runtime.InteropServices;

namespace CSharpWrapper
{
    /// <summary>Result of every native operation: success or the kind of the native exception.</summary>
    internal enum NativeStatus
    {
        Ok = 0,
        RuntimeError = 1,
        OutOfRange = 2,
        InvalidArgument = 3,
        OtherError = 4,
    }

    /// <summary>Reads one path into a native FieldMap or FieldMapList (an owned handle).</summary>
    internal delegate NativeStatus NativeReader(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

    /// <summary>The C boundary of libannoxml (managed/native/annoxml_native.h).</summary>
    internal static class NativeMethods
    {
        // Resolves to libannoxml.so or annoxml.dll next to this assembly or, for .NET 6+, in the
        // package's runtimes/<rid>/native/ folder.
        private const string Library = "annoxml";

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseImageInformation(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseUserInformation(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseLabelList(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseMask(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseRectangleAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseCircleAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseEllipseAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParsePolygonAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseFreehandContourAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseLineAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseRulerAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseTextAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseArrowTextAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParsePolyLineAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseFreehandPolyLineAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseAngleAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParsePointObjectAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseCobbAngleAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_ParseDeviationAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_GetAllAnnotations(byte[] path, UIntPtr pathSize, out IntPtr result, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_GenerateCOCOJson(byte[] path, UIntPtr pathSize, byte[] outputPath, UIntPtr outputPathSize, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern UIntPtr annoxml_field_map_size(IntPtr map);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_field_map_entry(IntPtr map, UIntPtr index, out IntPtr key, out UIntPtr keySize, out IntPtr value, out UIntPtr valueSize);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern UIntPtr annoxml_field_map_list_size(IntPtr list);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern IntPtr annoxml_field_map_list_at(IntPtr list, UIntPtr index);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern UIntPtr annoxml_annotation_table_size(IntPtr table);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_annotation_table_entry(IntPtr table, UIntPtr index, out IntPtr kind, out UIntPtr kindSize, out IntPtr list);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_field_map_free(IntPtr map);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_field_map_list_free(IntPtr list);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_annotation_table_free(IntPtr table);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_error_message_free(IntPtr errorMessage);
    }
}
