#include "util/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace annoxml::detail {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;

// A name beside `path` that no other writer in this or another process uses at the same time.
std::string TemporaryName(const std::string& path) {
    static std::atomic<unsigned long> counter{0};
    return path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

int CreateTemporary(const std::string& path, std::string& name) {
    for (;;) {
        name = TemporaryName(path);
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
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
    fd_ = CreateTemporary(path_, temporary_);
    if (fd_ < 0) {
        const int error = errno;
        temporary_.clear();
        Fail(error);
    }
    buffer_.reserve(kBufferSize);
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) {
        close(fd_);
    }
    if (!temporary_.empty()) {
        unlink(temporary_.c_str());
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
    if (close(fd) != 0) {
        Fail(errno);
    }
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
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
