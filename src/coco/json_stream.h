// JSON text written as it is produced, laid out exactly as nlohmann::ordered_json::dump(4) lays
// out the same values, into an OutputFile that is committed only when the text is complete.
#pragma once

#include <cstddef>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/atomic_file.h"

namespace annoxml::detail {

class JsonStream {
  public:
    // A failure to create the output is kept until Commit(), so that errors found while the
    // document is produced are reported first, as they were when it was built before writing.
    explicit JsonStream(const std::string& path);

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    // `key` is plain ASCII that needs no escape.
    void Key(std::string_view key);
    void Null() { Scalar("null"); }
    void Integer(long long value);
    void Number(double value);
    // Text that is not valid UTF-8 fails as dump() fails; the error is raised by Commit().
    void String(std::string_view text);

    // Raises the first deferred error: invalid UTF-8 first, then a failed write; otherwise
    // renames the finished file into place.
    void Commit();

  private:
    static constexpr std::size_t kBufferSize = 1 << 16;
    static constexpr std::size_t kIndentStep = 4;

    void Open(char bracket);
    void Close(char bracket);
    void Scalar(std::string_view text);
    // The line break and indent before a value or key in a container.
    void BeginItem();
    void Append(std::string_view bytes);
    void Reserve(std::size_t bytes);
    void Flush();
    void Defer(std::exception_ptr& slot);

    std::unique_ptr<OutputFile> file_;
    std::exception_ptr textError_;
    std::exception_ptr outputError_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    std::vector<bool> emptyLevels_;  // per open container: nothing in it yet
    bool afterKey_ = false;
};

}  // namespace annoxml::detail
