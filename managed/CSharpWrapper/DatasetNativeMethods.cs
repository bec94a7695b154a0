using System;
using System.Runtime.InteropServices;

namespace CSharpWrapper
{
    /// <summary>Called by the native run on the thread that started it: files done, files listed.</summary>
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    internal delegate void NativeProgress(IntPtr context, UIntPtr done, UIntPtr total);

    /// <summary>The whole-study C boundary of libannoxml (managed/native/annoxml_dataset_native.h).</summary>
    internal static class DatasetNativeMethods
    {
        /// <summary>ANNOXML_CANCELLED: the run was cancelled and wrote nothing.</summary>
        internal const NativeStatus Cancelled = (NativeStatus)5;

        internal const int SeverityWarning = 1;

        private const string Library = "annoxml";

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern IntPtr annoxml_study_new();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_study_free(IntPtr study);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_study_add_input(IntPtr study, byte[] path, UIntPtr pathSize, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_study_add_rename(IntPtr study, byte[] oldName, UIntPtr oldSize, byte[] newName, UIntPtr newSize, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_study_add_category(IntPtr study, int id, byte[] name, UIntPtr nameSize, byte[] supercategory, UIntPtr supercategorySize, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_study_set_splits(IntPtr study, byte[] text, UIntPtr textSize, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_study_set_seed(IntPtr study, ulong seed);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_study_set_group_by_folder(IntPtr study, int byFolder);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_study_set_threads(IntPtr study, uint threads);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_study_set_keep_going(IntPtr study, int keepGoing);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_study_set_progress(IntPtr study, NativeProgress callback, IntPtr context);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_study_cancel(IntPtr study);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_WriteDataset(IntPtr study, byte[] output, UIntPtr outputSize, int indent, out IntPtr result, out IntPtr errorFile, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_CheckStudy(IntPtr study, out IntPtr result, out IntPtr errorFile, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_WriteMasks(IntPtr study, byte[] outDir, UIntPtr outDirSize, int mode, byte[] labels, UIntPtr[] labelSizes, UIntPtr labelCount, int force, out IntPtr result, out IntPtr errorFile, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern NativeStatus annoxml_WriteYolo(IntPtr study, byte[] outDir, UIntPtr outDirSize, int task, byte[] imagesDir, UIntPtr imagesDirSize, int copyImages, int force, out IntPtr result, out IntPtr errorFile, out IntPtr errorMessage);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_study_result_counts(IntPtr result, out UIntPtr converted, out UIntPtr failed, out UIntPtr errors, out UIntPtr warnings);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern UIntPtr annoxml_study_result_size(IntPtr result);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_study_result_finding(IntPtr result, UIntPtr index, out IntPtr file, out UIntPtr fileSize, out int severity, out IntPtr message, out UIntPtr messageSize);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void annoxml_study_result_free(IntPtr result);
    }
}
