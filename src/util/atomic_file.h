#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace annoxml::detail {

// An output file that appears complete or not at all. Bytes go to a new temporary file beside
// `path`; Commit() renames it over `path`. Destroying an uncommitted OutputFile removes the
// temporary file and leaves `path` as it was. Errors throw std::runtime_error
// "Cannot write PATH: REASON".
class OutputFile {
  public:
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(std::string_view bytes);
    void Commit();

    const std::string& path() const { return path_; }

  private:
    void Flush();
    [[noreturn]] void Fail(int error);

    std::string path_;
    std::string temporary_;
    std::string buffer_;
    int fd_ = -1;
};

// Writes the whole `content` to `path` through an OutputFile.
void WriteFileAtomically(const std::string& path, std::string_view content);

}  // namespace annoxml::detail
