#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace annoxml::detail {

// An output file that appears complete or not at all, wherever that can be had.
// - A regular file or a new path: bytes go to a new hidden temporary file in the same folder and
//   Commit() renames it over the path. An existing file keeps its permission bits. Destroying an
//   uncommitted OutputFile removes the temporary file and leaves the path as it was.
// - A symbolic link is followed: its final target is replaced (or created) as above and the link
//   stays.
// - A character or block device, a FIFO or a socket, and /dev/stdout, /dev/stderr, /dev/fd/N and
//   /proc/self/fd/N (the process's open descriptors) are written directly and never replaced;
//   what was written before a failure stays written.
// Errors throw std::runtime_error "Cannot write PATH: REASON", also those that only show when the
// file is closed.
class OutputFile {
  public:
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(std::string_view bytes);
    // Writes the first `bytes` bytes of `stream`, flushed, copied by the system where it can;
    // false, nothing written, where it cannot: the caller writes them then.
    bool WriteContentOf(std::FILE* stream, std::size_t bytes);
    void Commit();

    const std::string& path() const { return path_; }

  private:
    void OpenTemporaryFor(const std::string& target);
    void WriteThrough(std::string_view bytes);
    void Flush();
    void Discard();
    [[noreturn]] void Fail(int error);

    std::string path_;
    std::string target_;     // the file that Commit() replaces; empty when written directly
    std::string temporary_;  // the temporary file while it exists
    std::string buffer_;
    int fd_ = -1;
};

// Writes the whole `content` to `path` through an OutputFile.
void WriteFileAtomically(const std::string& path, std::string_view content);

}  // namespace annoxml::detail
