// Everything the library asks of the operating system, in one place: posix.cpp and windows.cpp
// implement it. Paths are UTF-8 on every system. Files are C runtime descriptors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace annoxml::platform {

#ifdef _WIN32
constexpr const char* kPathSeparators = "/\\";
#else
constexpr const char* kPathSeparators = "/";
#endif

// The folder part of `path` with its final separator, or "" for a bare name.
inline std::string FolderOf(const std::string& path) {
    const std::size_t separator = path.find_last_of(kPathSeparators);
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

#ifdef _WIN32
// Fiber-local storage (what PerThread uses on Windows): a new slot; the slot's value on the
// calling thread (null before the first SetThreadSlotValue); setting it, with the function that
// destroys it when the thread ends.
std::uint32_t NewThreadSlot();
void* ThreadSlotValue(std::uint32_t slot);
void SetThreadSlotValue(std::uint32_t slot, void* value, void (*destroy)(void* value));
#endif

// One object of type T per thread, made by make() on the thread's first call from this place and
// destroyed when the thread ends: the scratch buffers that threads keep between frames. What
// thread_local gives, except on Windows, where MinGW's C++ runtime crashes when a thread ends
// that holds thread_local objects with destructors; there fiber-local storage holds them.
template <typename T, typename Make>
T& PerThread(Make make) {
#ifdef _WIN32
    static const std::uint32_t slot = NewThreadSlot();
    if (void* value = ThreadSlotValue(slot)) return *static_cast<T*>(value);
    T* value = new T(make());
    SetThreadSlotValue(slot, value, [](void* object) { delete static_cast<T*>(object); });
    return *value;
#else
    thread_local T value = make();
    return value;
#endif
}

// A failed system call: the errno value that says why.
struct SystemError {
    int error;
};

// What decides whether two paths name the same file: the path itself on POSIX systems; on
// Windows, whose file systems ignore case, the path in upper case.
std::string FileNameKey(const std::string& path);

std::uint64_t ProcessId();

// The local calendar time of `time`.
std::tm LocalTime(std::time_t time);

// strtod's reading of `text` in the "C" locale, whatever locale the process has set: leading
// white space skipped, the longest valid prefix read, *end set past it (to `text` when there is
// none), errno set to ERANGE when the value overflows or underflows (the value is then of no use).
double ReadDouble(const char* text, char** end);

// Converts text from a named encoding to UTF-8 in steps, as iconv(3) does.
class ToUtf8Converter {
  public:
    virtual ~ToUtf8Converter() = default;
    // Converts what it can of [*in, *in + *inLeft) into [*out, *out + *outLeft), advancing both;
    // with in == nullptr ends a stateful encoding's shift sequence. Returns 0 or the errno value
    // of the stop: E2BIG (the output is full), EILSEQ (an invalid sequence at *in) or EINVAL (the
    // input ends inside a character).
    virtual int Convert(char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) = 0;
};

// A converter from `encoding`, or null when the system has none. Windows has none at all: its
// C runtime lacks iconv, so there a document must be UTF-8, UTF-16, UTF-32 or ISO-8859-1.
std::unique_ptr<ToUtf8Converter> OpenToUtf8Converter(const std::string& encoding);

// Calls visit(name, isFolder) for every entry of `folder` (not below it) that is a folder, or a
// regular file whose name `wanted(name)` accepts, in no particular order. Links to files count as
// the files; links to folders are neither. Throws SystemError when the folder cannot be listed.
void ForEachEntryIn(const std::string& folder, bool (*wanted)(std::string_view name),
                    const std::function<void(std::string_view name, bool isFolder)>& visit);

// A C stream reading the file at `path`, null when it cannot be opened (errno says why).
std::FILE* OpenStreamForReading(const std::string& path) noexcept;

// Reading. Each throws SystemError.
int OpenForReading(const std::string& path);
// A descriptor of `folder` through which OpenForReadingIn opens its files by name, so that the
// system looks up one name instead of every folder on the path; -1 where there is none to be
// had (Windows, or a folder that cannot be opened so). Never throws.
int OpenFolderForLookups(const std::string& folder) noexcept;
// The file `name` of the folder `folder` (from OpenFolderForLookups), as OpenForReading opens it.
int OpenForReadingIn(int folder, const char* name);
// The size of the open regular file, or -1 when it is a pipe, FIFO or device; EISDIR for a folder.
std::int64_t RegularFileSize(int fd);
// Reads at most `room` bytes into `into`; 0 at the end.
std::size_t Read(int fd, char* into, std::size_t room);
// Provides the memory pages of a large buffer that is about to be filled whole, in one call
// rather than one page fault per page; a hint that may be ignored.
void PrepareToFill(void* buffer, std::size_t size) noexcept;

// Writing, for output files that appear complete or not at all. Each throws SystemError.
//
// Whether nothing at all is at `path`, not even a dangling link: a new file to create. False
// when that is not certain.
bool NothingAt(const std::string& path);
// A descriptor for writing straight to what `path` names when it is nothing to replace (a device,
// FIFO, socket or an open descriptor of the process such as /dev/stdout), or -1 when it is a
// regular file or does not exist.
int OpenDirectly(const std::string& path);
// The file that a chain of symbolic links at `path` ends in (`path` itself when it is none).
std::string FinalTarget(const std::string& path);
// A new file opened for writing, or -1 when `path` exists already.
int CreateNewFile(const std::string& path);
// Gives the new file `fd` the permission bits and, where allowed, the owner of `replaced`.
void TakeOverAttributes(int fd, const std::string& replaced);
void WriteAll(int fd, std::string_view bytes);
// Appends to `to` the first `bytes` bytes of the file `from` (the descriptor of `stream`, which
// the caller has flushed), copied by the system without passing through this process; false,
// nothing written, where the system cannot do so (Windows). A file shorter than `bytes` is EIO.
bool AppendFileContent(std::FILE* stream, std::size_t bytes, int to);
// Closes `fd`; throws when the close reports a failed write.
void Close(int fd);
// Renames `from` to `to`, replacing the file at `to` in one step.
void RenameReplacing(const std::string& from, const std::string& to);
// Best effort: closing and removing a file that is given up.
void CloseQuietly(int fd) noexcept;
void RemoveQuietly(const std::string& path) noexcept;

}  // namespace annoxml::platform
