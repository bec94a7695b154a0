#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <locale.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/platform.h"

namespace annoxml::platform {
namespace {

constexpr int kMaxLinks = 40;

[[noreturn]] void ThrowErrno() { throw SystemError{errno}; }

locale_t CLocale() {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return cLocale;
}

// N for the paths that name the process's open descriptor N.
std::optional<int> DescriptorNamedBy(const std::string& path) {
    if (path == "/dev/stdout") return 1;
    if (path == "/dev/stderr") return 2;
    for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
            path.find_first_not_of("0123456789", prefix.size()) == std::string::npos &&
            path.size() - prefix.size() < 10) {
            return std::stoi(path.substr(prefix.size()));
        }
    }
    return std::nullopt;
}

int DuplicateDescriptor(int fd) {
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) ThrowErrno();
    return copy;
}

int ConnectToSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) throw SystemError{ENAMETOOLONG};
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) ThrowErrno();
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        close(fd);
        throw SystemError{error};
    }
    return fd;
}

std::string ReadLink(const std::string& link) {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = readlink(link.c_str(), target.data(), target.size());
        if (n < 0) ThrowErrno();
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

class IconvConverter : public ToUtf8Converter {
  public:
    explicit IconvConverter(iconv_t handle) : handle_(handle) {}
    ~IconvConverter() override { iconv_close(handle_); }
    IconvConverter(const IconvConverter&) = delete;
    IconvConverter& operator=(const IconvConverter&) = delete;

    int Convert(char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) override {
        return iconv(handle_, in, inLeft, out, outLeft) == static_cast<std::size_t>(-1) ? errno : 0;
    }

  private:
    iconv_t handle_;
};

}  // namespace

std::unique_ptr<ToUtf8Converter> OpenToUtf8Converter(const std::string& encoding) {
    const iconv_t handle = iconv_open("UTF-8", encoding.c_str());
    if (handle == reinterpret_cast<iconv_t>(-1)) return nullptr;
    return std::make_unique<IconvConverter>(handle);
}

std::string FileNameKey(const std::string& path) { return path; }

std::uint64_t ProcessId() { return static_cast<std::uint64_t>(getpid()); }

std::tm LocalTime(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    return local;
}

double ReadDouble(const char* text, char** end) { return strtod_l(text, end, CLocale()); }

namespace {

class OpenFolder {
  public:
    explicit OpenFolder(const std::string& path) : folder_(opendir(path.c_str())) {
        if (folder_ == nullptr) ThrowErrno();
    }
    ~OpenFolder() { closedir(folder_); }
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    // The next entry, null at the end.
    const dirent* Next() {
        errno = 0;
        const dirent* entry = readdir(folder_);
        if (entry == nullptr && errno != 0) ThrowErrno();
        return entry;
    }

  private:
    DIR* folder_;
};

// The type of the entry at `path` as readdir gives it, for file systems that do not say.
unsigned char TypeOf(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) return DT_UNKNOWN;
    if (S_ISDIR(status.st_mode)) return DT_DIR;
    if (S_ISREG(status.st_mode)) return DT_REG;
    return S_ISLNK(status.st_mode) ? DT_LNK : DT_UNKNOWN;
}

bool IsRegularFileBehindLink(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

void ForEachEntryIn(const std::string& folder, bool (*wanted)(std::string_view name),
                    const std::function<void(std::string_view name, bool isFolder)>& visit) {
    OpenFolder listing(folder);
    std::string path = folder;
    if (path.empty() || path.back() != '/') path += '/';
    const std::size_t prefix = path.size();
    while (const dirent* entry = listing.Next()) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN || type == DT_LNK) {
            path.resize(prefix);
            path += name;
            if (type == DT_UNKNOWN) type = TypeOf(path);
            if (type == DT_LNK && wanted(name) && IsRegularFileBehindLink(path)) type = DT_REG;
        }
        if (type == DT_DIR) {
            visit(name, true);
        } else if (type == DT_REG && wanted(name)) {
            visit(name, false);
        }
    }
}

std::FILE* OpenStreamForReading(const std::string& path) noexcept {
    return std::fopen(path.c_str(), "rb");
}

int OpenForReading(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) ThrowErrno();
    return fd;
}

int OpenFolderForLookups(const std::string& folder) noexcept {
#ifdef O_PATH
    // Needs no permission to list the folder, only to search it, as opening by path does.
    return open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
    return open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
}

int OpenForReadingIn(int folder, const char* name) {
    const int fd = openat(folder, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) ThrowErrno();
    return fd;
}

std::int64_t RegularFileSize(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0) ThrowErrno();
    if (S_ISDIR(status.st_mode)) throw SystemError{EISDIR};
    return S_ISREG(status.st_mode) ? static_cast<std::int64_t>(status.st_size) : -1;
}

void PrepareToFill(void* buffer, std::size_t size) noexcept {
#ifdef MADV_POPULATE_WRITE
    const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(buffer);
    const std::uintptr_t first = (start + page - 1) / page * page;
    const std::uintptr_t end = (start + size) / page * page;
    // Older kernels refuse the advice; the pages then come one fault at a time, as without it.
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
    (void)buffer;
    (void)size;
#endif
}

std::size_t Read(int fd, char* into, std::size_t room) {
    for (;;) {
        const ssize_t n = read(fd, into, room);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) ThrowErrno();
    }
}

bool NothingAt(const std::string& path) {
    if (DescriptorNamedBy(path)) return false;
    struct stat status {};
    return lstat(path.c_str(), &status) != 0 && errno == ENOENT;
}

int OpenDirectly(const std::string& path) {
    if (const std::optional<int> fd = DescriptorNamedBy(path)) return DuplicateDescriptor(*fd);
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT) return -1;  // a new file, or a dangling link
        ThrowErrno();
    }
    if (S_ISREG(status.st_mode)) return -1;
    if (S_ISDIR(status.st_mode)) throw SystemError{EISDIR};
    if (S_ISSOCK(status.st_mode)) return ConnectToSocket(path);
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) ThrowErrno();
    return fd;
}

std::string FinalTarget(const std::string& path) {
    std::string current = path;
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat status {};
        if (lstat(current.c_str(), &status) != 0) {
            if (errno == ENOENT) return current;
            ThrowErrno();
        }
        if (!S_ISLNK(status.st_mode)) return current;
        const std::string target = ReadLink(current);
        current = target.front() == '/' ? target : FolderOf(current) + target;
    }
    throw SystemError{ELOOP};
}

int CreateNewFile(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) ThrowErrno();
    return fd;
}

void TakeOverAttributes(int fd, const std::string& replaced) {
    struct stat old {};
    if (stat(replaced.c_str(), &old) != 0) {
        if (errno == ENOENT) return;
        ThrowErrno();
    }
    if (fchmod(fd, old.st_mode & 07777) != 0) ThrowErrno();
    struct stat fresh {};
    if (fstat(fd, &fresh) == 0 && (fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid)) {
        // Only root may give a file away; everyone else keeps the new file as their own.
        if (fchown(fd, old.st_uid, old.st_gid) == 0) {
            fchmod(fd, old.st_mode & 07777);  // chown may clear set-user-id bits
        }
    }
}

void WriteAll(int fd, std::string_view bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno();
        }
        written += static_cast<std::size_t>(n);
    }
}

bool AppendFileContent(std::FILE* stream, std::size_t bytes, int to) {
    const int from = fileno(stream);
    off_t offset = 0;
    while (bytes > 0) {
        const ssize_t n = sendfile(to, from, &offset, bytes);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (offset == 0 && (errno == EINVAL || errno == ENOSYS)) return false;
            ThrowErrno();
        }
        if (n == 0) throw SystemError{EIO};
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

void Close(int fd) {
    // Some file systems and devices report a failed write only here.
    if (close(fd) != 0 && errno != EINTR) ThrowErrno();
}

void RenameReplacing(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) ThrowErrno();
}

void CloseQuietly(int fd) noexcept { close(fd); }

void RemoveQuietly(const std::string& path) noexcept { unlink(path.c_str()); }

}  // namespace annoxml::platform
