// The per-file COCO text written as it is produced, laid out exactly as
// nlohmann::ordered_json::dump(4) lays out the same values, into an OutputFile that is committed
// only when the text is complete.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "util/atomic_file.h"
#include "util/json_writer.h"

namespace annoxml::detail {

class JsonStream : public JsonWriter {
  public:
    // A failure to create the output is kept until Commit(), so that errors found while the
    // document is produced are reported first, as they were when it was built before writing.
    explicit JsonStream(const std::string& path);

    // Text that is not valid UTF-8 fails as dump() fails; the error is raised by Commit().
    void String(std::string_view text);

    // Raises the first deferred error: invalid UTF-8 first, then a failed write; otherwise
    // renames the finished file into place.
    void Commit();

  private:
    static constexpr std::size_t kBufferSize = 1 << 16;

    void MakeRoom(std::size_t bytes) override;
    void Flush();
    void Defer(std::exception_ptr& slot);

    std::unique_ptr<OutputFile> file_;
    std::exception_ptr textError_;
    std::exception_ptr outputError_;
};

}  // namespace annoxml::detail
