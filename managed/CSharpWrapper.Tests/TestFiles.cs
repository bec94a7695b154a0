using System;
using System.IO;

namespace CSharpWrapper.Tests;

internal static class TestFiles
{
    public static string Path(string name) => System.IO.Path.Combine(AppContext.BaseDirectory, "data", name);

    public static string Full => Path("full.xml");
    public static string HeaderOnly => Path("header_only.xml");
    public static string Unicode => Path("unicode.xml");
}

/// <summary>A fresh directory under the system's temporary folder, removed on dispose.</summary>
internal sealed class TempDirectory : IDisposable
{
    public TempDirectory(string name = "annoxml")
    {
        Root = System.IO.Path.Combine(System.IO.Path.GetTempPath(), name + "-" + Guid.NewGuid().ToString("N"));
        Directory.CreateDirectory(Root);
    }

    public string Root { get; }

    public string File(string name) => System.IO.Path.Combine(Root, name);

    public void Dispose() => Directory.Delete(Root, recursive: true);
}
