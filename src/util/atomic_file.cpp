#include "util/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>

#include "platform/platform.h"

namespace annoxml::detail {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;
constexpr int kNameAttempts = 100;

using platform::SystemError;

std::uint64_t NextRandom() {
    static std::atomic<std::uint64_t> state{
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (platform::ProcessId() << 32)};
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

int CreateTemporary(const std::string& folder, std::string& name) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        name = TemporaryName(folder);
        try {
            const int fd = platform::CreateNewFile(name);
            if (fd >= 0) return fd;
        } catch (const SystemError&) {
            name.clear();
            throw;
        }
    }
    name.clear();
    throw SystemError{EEXIST};
}

}  // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    try {
        if (platform::NothingAt(path_)) {
            // The usual case, a new file, settled by one look at the path: there is no link to
            // follow and nothing whose attributes to keep.
            fd_ = CreateTemporary(platform::FolderOf(path_), temporary_);
            target_ = path_;
        } else {
            fd_ = platform::OpenDirectly(path_);
            if (fd_ < 0) OpenTemporaryFor(platform::FinalTarget(path_));
        }
    } catch (const SystemError& error) {
        Discard();
        Fail(error.error);
    }
    buffer_.reserve(kBufferSize);
}

void OutputFile::OpenTemporaryFor(const std::string& target) {
    fd_ = CreateTemporary(platform::FolderOf(target), temporary_);
    target_ = target;
    platform::TakeOverAttributes(fd_, target_);
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
    if (fd_ >= 0) {
        platform::CloseQuietly(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        platform::RemoveQuietly(temporary_);
        temporary_.clear();
    }
}

void OutputFile::Fail(int error) {
    throw std::runtime_error("Cannot write " + path_ + ": " + std::strerror(error));
}

void OutputFile::WriteThrough(std::string_view bytes) {
    try {
        platform::WriteAll(fd_, bytes);
    } catch (const SystemError& error) {
        Fail(error.error);
    }
}

void OutputFile::Flush() {
    WriteThrough(buffer_);
    buffer_.clear();
}

void OutputFile::Write(std::string_view bytes) {
    // Large pieces, such as a streaming writer's full buffer, go straight to the file: copying
    // them into this buffer first would only double the work.
    if (bytes.size() >= kBufferSize / 2) {
        if (!buffer_.empty()) Flush();
        WriteThrough(bytes);
        return;
    }
    if (buffer_.size() + bytes.size() > kBufferSize) Flush();
    buffer_.append(bytes);
}

bool OutputFile::WriteContentOf(std::FILE* stream, std::size_t bytes) {
    if (!buffer_.empty()) Flush();
    try {
        return platform::AppendFileContent(stream, bytes, fd_);
    } catch (const SystemError& error) {
        Fail(error.error);
    }
}

void OutputFile::Commit() {
    Flush();
    const int fd = fd_;
    fd_ = -1;
    try {
        platform::Close(fd);
        if (target_.empty()) {
            return;
        }
        platform::RenameReplacing(temporary_, target_);
    } catch (const SystemError& error) {
        Fail(error.error);
    }
    temporary_.clear();
}

void WriteFileAtomically(const std::string& path, std::string_view content) {
    OutputFile file(path);
    file.Write(content);
    file.Commit();
}

}  // namespace annoxml::detail
