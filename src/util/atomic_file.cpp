#include "util/atomic_file.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <stdexcept>

namespace annoxml::detail {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;
constexpr int kMaxLinks = 40;
constexpr int kNameAttempts = 100;

// An errno value as an exception type of its own, turned into the path's message by OutputFile.
struct SystemError {
    int error;
};

[[noreturn]] void ThrowErrno() { throw SystemError{errno}; }

std::uint64_t NextRandom() {
    static std::atomic<std::uint64_t> state{
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<std::uint64_t>(getpid()) << 32)};
    // splitmix64
    std::uint64_t z = state.fetch_add(0x9E3779B97F4A7C15ULL) + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// ".annoxml-" and six random letters or digits: short, so that it fits wherever the target's
// own name fits, and hidden.
std::string TemporaryName(const std::string& folder) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::uint64_t bits = NextRandom();
    std::string name = folder + ".annoxml-";
    for (int i = 0; i < 6; ++i, bits /= 62) {
        name += kAlphabet[bits % 62];
    }
    return name;
}

// The folder part of `path` with its final "/", or "" for a bare name.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
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

// A descriptor for writing directly to what `path` names, or -1 when the path is a regular file
// or does not exist yet and is to be replaced atomically.
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

// The file that a chain of symbolic links at `path` ends in, which may not exist yet.
std::string FinalTarget(std::string path) {
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0) {
            if (errno == ENOENT) return path;
            ThrowErrno();
        }
        if (!S_ISLNK(status.st_mode)) return path;
        const std::string target = ReadLink(path);
        path = target.front() == '/' ? target : FolderOf(path) + target;
    }
    throw SystemError{ELOOP};
}

int CreateTemporary(const std::string& folder, std::string& name) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        name = TemporaryName(folder);
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) {
            name.clear();
            ThrowErrno();
        }
    }
    name.clear();
    throw SystemError{EEXIST};
}

// Gives the temporary file the permission bits, and where allowed the owner, of the file that it
// replaces.
void TakeOverAttributes(int fd, const std::string& target) {
    struct stat old {};
    if (stat(target.c_str(), &old) != 0) {
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

int WriteAll(int fd, std::string_view content) {
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = write(fd, content.data() + written, content.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    try {
        fd_ = OpenDirectly(path_);
        if (fd_ < 0) {
            OpenTemporaryFor(FinalTarget(path_));
        }
    } catch (const SystemError& error) {
        Discard();
        Fail(error.error);
    }
    buffer_.reserve(kBufferSize);
}

void OutputFile::OpenTemporaryFor(const std::string& target) {
    fd_ = CreateTemporary(FolderOf(target), temporary_);
    target_ = target;
    TakeOverAttributes(fd_, target_);
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        unlink(temporary_.c_str());
        temporary_.clear();
    }
}

void OutputFile::Fail(int error) {
    throw std::runtime_error("Cannot write " + path_ + ": " + std::strerror(error));
}

void OutputFile::Flush() {
    if (const int error = WriteAll(fd_, buffer_)) {
        Fail(error);
    }
    buffer_.clear();
}

void OutputFile::Write(std::string_view bytes) {
    if (buffer_.size() + bytes.size() > kBufferSize) {
        Flush();
        if (bytes.size() >= kBufferSize) {
            if (const int error = WriteAll(fd_, bytes)) {
                Fail(error);
            }
            return;
        }
    }
    buffer_.append(bytes);
}

void OutputFile::Commit() {
    Flush();
    const int fd = fd_;
    fd_ = -1;
    // Some file systems and devices report a failed write only here.
    if (close(fd) != 0 && errno != EINTR) {
        Fail(errno);
    }
    if (target_.empty()) {
        return;
    }
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        Fail(errno);
    }
    temporary_.clear();
}

void WriteFileAtomically(const std::string& path, std::string_view content) {
    OutputFile file(path);
    file.Write(content);
    file.Commit();
}

}  // namespace annoxml::detail
