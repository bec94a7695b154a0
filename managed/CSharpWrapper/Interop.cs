using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;

namespace CSharpWrapper
{
    /// <summary>String conversion and error hand-over between the façade and the C boundary.</summary>
    internal static class Interop
    {
        internal const string NullArgumentText = "NULLPTR is not supported for this conversion.";
        internal const string OversizeText = "Size of string exceeds INT_MAX.";

        // UTF-8 that writes "?" for a character it cannot encode (a lone surrogate) and never throws.
        private static readonly Encoding PathEncoding =
            Encoding.GetEncoding("utf-8", new EncoderReplacementFallback("?"), DecoderFallback.ReplacementFallback);

        private static readonly Encoding ResultEncoding = new UTF8Encoding(false, false);

        /// <summary>
        /// The narrow form of a path: its UTF-8 bytes followed by a zero byte. An embedded NUL
        /// character is converted like any other.
        /// </summary>
        internal static byte[] ToNarrowPath(string value)
        {
            if (value == null)
            {
                throw new ArgumentNullException(NullArgumentText);
            }

            int size;
            try
            {
                size = PathEncoding.GetByteCount(value);
            }
            catch (ArgumentException)
            {
                // More bytes than an int counts.
                throw new ArgumentOutOfRangeException(OversizeText);
            }

            if (size == int.MaxValue)
            {
                throw new ArgumentOutOfRangeException(OversizeText);
            }

            var narrow = new byte[size + 1];
            PathEncoding.GetBytes(value, 0, value.Length, narrow, 0);
            return narrow;
        }

        /// <summary>The size of a narrow path without its final zero byte.</summary>
        internal static UIntPtr SizeOf(byte[] narrowPath)
        {
            return new UIntPtr((uint)(narrowPath.Length - 1));
        }

        /// <summary>Throws the native failure, if any, after releasing its message.</summary>
        internal static void ThrowIfFailed(NativeStatus status, IntPtr errorMessage)
        {
            if (status == NativeStatus.Ok)
            {
                return;
            }

            string message;
            try
            {
                message = errorMessage == IntPtr.Zero ? string.Empty : ToManagedString(errorMessage, StringLength(errorMessage));
            }
            finally
            {
                NativeMethods.annoxml_error_message_free(errorMessage);
            }

            throw new AnnotationXmlException(message, ToKind(status));
        }

        /// <summary>Converts the path, calls the native reader, and returns its owned result.</summary>
        internal static IntPtr Read(string path, NativeReader reader)
        {
            byte[] narrowPath = ToNarrowPath(path);
            IntPtr result;
            IntPtr errorMessage;
            NativeStatus status = reader(narrowPath, SizeOf(narrowPath), out result, out errorMessage);
            ThrowIfFailed(status, errorMessage);
            return result;
        }

        /// <summary>
        /// Reads with the native reader, converts its owned result, and releases that result
        /// whether or not the conversion succeeds.
        /// </summary>
        internal static T ReadAndRelease<T>(string path, NativeReader reader, Func<IntPtr, T> convert, Action<IntPtr> release)
        {
            IntPtr nativeResult = Read(path, reader);
            try
            {
                return convert(nativeResult);
            }
            finally
            {
                release(nativeResult);
            }
        }

        /// <summary>Decodes <paramref name="size"/> UTF-8 bytes of native text.</summary>
        internal static string ToManagedString(IntPtr data, UIntPtr size)
        {
            int length = checked((int)size.ToUInt64());
            if (length == 0)
            {
                return string.Empty;
            }

            var bytes = new byte[length];
            Marshal.Copy(data, bytes, 0, length);
            return ResultEncoding.GetString(bytes);
        }

        /// <summary>
        /// A native FieldMap as a new dictionary, entries added in the native (byte-wise key) order.
        /// </summary>
        internal static Dictionary<string, string> ToDictionary(IntPtr nativeMap)
        {
            var dictionary = new Dictionary<string, string>();
            ulong count = NativeMethods.annoxml_field_map_size(nativeMap).ToUInt64();
            for (ulong index = 0; index < count; index++)
            {
                IntPtr key;
                UIntPtr keySize;
                IntPtr value;
                UIntPtr valueSize;
                NativeMethods.annoxml_field_map_entry(nativeMap, new UIntPtr(index), out key, out keySize, out value, out valueSize);
                string managedKey = ToManagedString(key, keySize);
                string managedValue = ToManagedString(value, valueSize);
                dictionary.Add(managedKey, managedValue);
            }

            return dictionary;
        }

        private static UIntPtr StringLength(IntPtr text)
        {
            int length = 0;
            while (Marshal.ReadByte(text, length) != 0)
            {
                length++;
            }

            return new UIntPtr((uint)length);
        }

        private static NativeErrorKind ToKind(NativeStatus status)
        {
            switch (status)
            {
                case NativeStatus.RuntimeError:
                    return NativeErrorKind.RuntimeError;
                case NativeStatus.OutOfRange:
                    return NativeErrorKind.OutOfRange;
                case NativeStatus.InvalidArgument:
                    return NativeErrorKind.InvalidArgument;
                default:
                    return NativeErrorKind.Other;
            }
        }
    }
}
