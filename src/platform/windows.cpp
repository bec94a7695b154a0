// Windows: UTF-8 paths are opened as wide-character paths through the C runtime's descriptors.
#include <windows.h>
// After windows.h:
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace annoxml::platform {
namespace {

[[noreturn]] void ThrowErrno() { throw SystemError{errno}; }

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    if (utf8.size() > INT_MAX) throw SystemError{ENAMETOOLONG};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (length == 0) throw SystemError{EILSEQ};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Whether `folder` (with or without its final separator) is a file, not a folder.
bool IsFile(std::string folder) {
    while (!folder.empty() && std::strchr(kPathSeparators, folder.back()) != nullptr) {
        folder.pop_back();
    }
    if (folder.empty()) return false;
    const DWORD attributes = GetFileAttributesW(Wide(folder).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The errno value closest to a failed Win32 call's error.
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        default:
            return EIO;
    }
}

// The standard stream that the tool's names for "-" stand for, or -1.
int StandardStreamNamedBy(const std::string& path) {
    if (path == "/dev/stdin") return 0;
    if (path == "/dev/stdout") return 1;
    if (path == "/dev/stderr") return 2;
    return -1;
}

// A copy of standard stream `fd` in binary mode, so that it writes the bytes given.
int DuplicateStandardStream(int fd) {
    const int copy = _dup(fd);
    if (copy < 0) ThrowErrno();
    _setmode(copy, _O_BINARY);
    return copy;
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool StartsWithHexPrefix(const char* p) { return p[0] == '0' && (p[1] == 'x' || p[1] == 'X'); }

// What strtod reads at `p` (after white space and sign), as std::from_chars reads it.
std::from_chars_result ReadUnsigned(const char* p, const char* last, double& value) {
    if (StartsWithHexPrefix(p)) {
        const std::from_chars_result hex =
            std::from_chars(p + 2, last, value, std::chars_format::hex);
        // "0x" without hexadecimal digits is the number 0 followed by "x".
        if (hex.ptr != p + 2 && (*(p + 2) != '+' && *(p + 2) != '-')) return hex;
        value = 0;
        return {p + 1, std::errc()};
    }
    if (*p == '+' || *p == '-') return {p, std::errc::invalid_argument};
    return std::from_chars(p, last, value, std::chars_format::general);
}

}  // namespace

std::unique_ptr<ToUtf8Converter> OpenToUtf8Converter(const std::string&) { return nullptr; }

namespace {

struct SlotValue {
    void* value;
    void (*destroy)(void*);
};

void WINAPI DestroySlotValue(void* slotValue) {
    const std::unique_ptr<SlotValue> owned(static_cast<SlotValue*>(slotValue));
    owned->destroy(owned->value);
}

}  // namespace

std::uint32_t NewThreadSlot() {
    const DWORD slot = FlsAlloc(DestroySlotValue);
    if (slot == FLS_OUT_OF_INDEXES) throw std::bad_alloc();
    return slot;
}

void* ThreadSlotValue(std::uint32_t slot) {
    const auto* slotValue = static_cast<const SlotValue*>(FlsGetValue(slot));
    return slotValue == nullptr ? nullptr : slotValue->value;
}

void SetThreadSlotValue(std::uint32_t slot, void* value, void (*destroy)(void*)) {
    auto slotValue = std::make_unique<SlotValue>(SlotValue{value, destroy});
    if (!FlsSetValue(slot, slotValue.get())) {
        destroy(value);
        throw std::bad_alloc();
    }
    slotValue.release();
}

std::string FileNameKey(const std::string& path) {
    std::wstring wide = Wide(path);
    if (wide.empty()) return path;
    // Each letter's upper case by the invariant locale's simple mapping, as NTFS compares names.
    const int size = static_cast<int>(wide.size());
    std::wstring upper(wide.size(), L'\0');
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), size, upper.data(), size,
                      nullptr, nullptr, 0) == size) {
        wide = std::move(upper);
    }
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string key(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, key.data(), length, nullptr, nullptr);
    return key;
}

std::uint64_t ProcessId() { return GetCurrentProcessId(); }

std::tm LocalTime(std::time_t time) {
    std::tm local{};
    localtime_s(&local, &time);
    return local;
}

// std::from_chars is locale-independent and correctly rounded, as glibc's strtod is; what it
// lacks of strtod's rules is added here: leading white space, a "+" sign, the "0x" prefix, and
// ERANGE for results too small to be normal numbers.
double ReadDouble(const char* text, char** end) {
    const char* p = text;
    while (IsSpace(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    double value = 0;
    const std::from_chars_result read = ReadUnsigned(p, p + std::strlen(p), value);
    if (read.ptr == p || read.ec == std::errc::invalid_argument) {
        *end = const_cast<char*>(text);
        return 0;
    }
    *end = const_cast<char*>(read.ptr);
    if (read.ec == std::errc::result_out_of_range) {
        errno = ERANGE;
        return 0;
    }
    if (value != 0 && std::fpclassify(value) == FP_SUBNORMAL) errno = ERANGE;
    return negative ? -value : value;
}

namespace {

std::string Utf8(const wchar_t* wide, std::size_t length) {
    if (length == 0) return {};
    const int size = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, size, text.data(), bytes, nullptr, nullptr);
    return text;
}

// A folder's entries as FindFirstFileExW lists them, with their attributes, so that no file needs
// a call of its own to say what it is (std::filesystem asks again for each one, which costs a
// round trip to the server under wine).
class FolderListing {
  public:
    explicit FolderListing(const std::wstring& pattern)
        : handle_(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry_, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH)) {
        // A drive's empty root folder has no entry at all, not even ".".
        if (handle_ == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND) {
            throw SystemError{ErrnoOf(GetLastError())};
        }
    }
    ~FolderListing() {
        if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
    }
    FolderListing(const FolderListing&) = delete;
    FolderListing& operator=(const FolderListing&) = delete;

    // The next entry, null at the end.
    const WIN32_FIND_DATAW* Next() {
        if (handle_ == INVALID_HANDLE_VALUE) return nullptr;
        if (first_) {
            first_ = false;
            return &entry_;
        }
        if (FindNextFileW(handle_, &entry_)) return &entry_;
        if (GetLastError() == ERROR_NO_MORE_FILES) return nullptr;
        throw SystemError{ErrnoOf(GetLastError())};
    }

  private:
    WIN32_FIND_DATAW entry_{};
    HANDLE handle_;
    bool first_ = true;
};

bool IsFileBehindLink(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

void ForEachEntryIn(const std::string& folder, bool (*wanted)(std::string_view name),
                    const std::function<void(std::string_view name, bool isFolder)>& visit) {
    const bool endsInSeparator =
        !folder.empty() && std::strchr(kPathSeparators, folder.back()) != nullptr;
    const std::wstring widePrefix = Wide(folder) + (endsInSeparator ? L"" : L"\\");
    FolderListing listing(widePrefix + L"*");
    while (const WIN32_FIND_DATAW* entry = listing.Next()) {
        const std::wstring_view wideName = entry->cFileName;
        if (wideName == L"." || wideName == L"..") continue;
        const std::string name = Utf8(wideName.data(), wideName.size());
        const DWORD attributes = entry->dwFileAttributes;
        const bool isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (!isLink) visit(name, true);  // links to folders are not followed
        } else if (wanted(name) &&
                   (!isLink || IsFileBehindLink(widePrefix + std::wstring(wideName)))) {
            visit(name, false);
        }
    }
}

std::FILE* OpenStreamForReading(const std::string& path) noexcept {
    try {
        return _wfopen(Wide(path).c_str(), L"rbN");
    } catch (const SystemError& error) {
        errno = error.error;
        return nullptr;
    }
}

int OpenForReading(const std::string& path) {
    if (StandardStreamNamedBy(path) == 0) return DuplicateStandardStream(0);
    const std::wstring wide = Wide(path);
    const int fd = _wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd >= 0) return fd;
    // Opening a folder is refused as access denied.
    if (errno == EACCES && IsFolder(wide)) throw SystemError{EISDIR};
    ThrowErrno();
}

int OpenFolderForLookups(const std::string&) noexcept { return -1; }

int OpenForReadingIn(int, const char*) { throw SystemError{ENOSYS}; }

std::int64_t RegularFileSize(int fd) {
    struct _stati64 status {};
    if (_fstati64(fd, &status) != 0) ThrowErrno();
    return (status.st_mode & _S_IFMT) == _S_IFREG ? static_cast<std::int64_t>(status.st_size) : -1;
}

void PrepareToFill(void*, std::size_t) noexcept {}

std::size_t Read(int fd, char* into, std::size_t room) {
    const unsigned int chunk = room > INT_MAX ? INT_MAX : static_cast<unsigned int>(room);
    const int n = _read(fd, into, chunk);
    if (n < 0) ThrowErrno();
    return static_cast<std::size_t>(n);
}

// Windows has no FIFOs or sockets to write to by path; every output file is replaced.
bool NothingAt(const std::string&) { return false; }

int OpenDirectly(const std::string& path) {
    if (const int fd = StandardStreamNamedBy(path); fd > 0) return DuplicateStandardStream(fd);
    if (IsFolder(Wide(path))) throw SystemError{EISDIR};
    return -1;
}

std::string FinalTarget(const std::string& path) { return path; }

int CreateNewFile(const std::string& path) {
    const int fd =
        _wopen(Wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
               _S_IREAD | _S_IWRITE);
    if (fd >= 0 || errno == EEXIST) return fd;
    // Windows says "not found" for a folder that is a file; POSIX's word is clearer.
    if (errno == ENOENT && IsFile(FolderOf(path))) throw SystemError{ENOTDIR};
    ThrowErrno();
}

void TakeOverAttributes(int, const std::string&) {}

void WriteAll(int fd, std::string_view bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const std::size_t left = bytes.size() - written;
        const unsigned int chunk = left > INT_MAX ? INT_MAX : static_cast<unsigned int>(left);
        const int n = _write(fd, bytes.data() + written, chunk);
        if (n < 0) ThrowErrno();
        written += static_cast<std::size_t>(n);
    }
}

bool AppendFileContent(std::FILE*, std::size_t, int) { return false; }

void Close(int fd) {
    if (_close(fd) != 0) ThrowErrno();
}

void RenameReplacing(const std::string& from, const std::string& to) {
    if (!MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        throw SystemError{ErrnoOf(GetLastError())};
    }
}

void CloseQuietly(int fd) noexcept { _close(fd); }

void RemoveQuietly(const std::string& path) noexcept {
    try {
        _wunlink(Wide(path).c_str());
    } catch (...) {
    }
}

}  // namespace annoxml::platform
