using System;

namespace CSharpWrapper
{
    /// <summary>The kind of C++ exception that the native library raised.</summary>
    public enum NativeErrorKind
    {
        /// <summary><c>std::runtime_error</c> or one of its descendants.</summary>
        RuntimeError = 1,

        /// <summary><c>std::out_of_range</c>.</summary>
        OutOfRange = 2,

        /// <summary><c>std::invalid_argument</c>.</summary>
        InvalidArgument = 3,

        /// <summary>Any other exception.</summary>
        Other = 4,
    }

    /// <summary>
    /// A failure of the native library, passed on untranslated: <see cref="Exception.Message"/> is
    /// the native <c>what()</c> text unchanged and <see cref="Kind"/> tells the native exception type.
    /// </summary>
    public class AnnotationXmlException : Exception
    {
        /// <summary>Creates the exception for a native failure.</summary>
        public AnnotationXmlException(string message, NativeErrorKind kind)
            : base(message)
        {
            Kind = kind;
        }

        /// <summary>The kind of the native exception.</summary>
        public NativeErrorKind Kind { get; }
    }
}
