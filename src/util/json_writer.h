// JSON text laid out exactly as nlohmann::ordered_json::dump(indent) lays out the same values:
// compact when indent < 0, otherwise one item a line with `indent` spaces a level.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace annoxml::detail {

// How Number() writes a double.
enum class NumberForm {
    // As dump() writes it: the JSON library's Grisu2, e.g. 12.0 and 0.30000000000000004. The
    // per-file conversion keeps these bytes.
    Library,
    // The shortest text that reads back as the same double (std::to_chars), e.g. 12 and 0.3:
    // what the data sets write, where no reader needs dump()'s own bytes.
    Shortest,
};

class JsonWriter {
  public:
    // `depth` indents everything as if the value stood that many levels deep in a larger
    // document; its first line is not indented.
    explicit JsonWriter(int indent, int depth = 0, NumberForm numbers = NumberForm::Library);
    virtual ~JsonWriter() = default;
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    // `key` is plain ASCII that needs no escape. Inline: keys are mostly literals, whose copy
    // then takes a few moves instead of a call.
    void Key(std::string_view key) {
        BeginItem();
        Reserve(key.size() + 4);
        char* out = buffer_.get() + used_;
        *out++ = '"';
        std::memcpy(out, key.data(), key.size());
        out += key.size();
        *out++ = '"';
        *out++ = ':';
        if (indent_ >= 0) *out++ = ' ';
        used_ = static_cast<std::size_t>(out - buffer_.get());
        afterKey_ = true;
    }
    void Null() { Scalar("null"); }
    void Integer(long long value);
    // In the writer's NumberForm; null when not finite.
    void Number(double value);
    // Each value as Number() writes it; in an array, image coordinates are written with one
    // check for room between them.
    void Numbers(const double* values, std::size_t count);
    // Throws the library's type_error for text that is not valid UTF-8, as dump() does.
    void String(std::string_view text);

    // The text written since the last Clear().
    std::string_view text() const { return {buffer_.get(), used_}; }
    // Forgets the text and any open container, to write a new value at the same depth.
    void Clear();

  protected:
    // Called when `bytes` more do not fit behind text(); grows the buffer. A subclass may pass
    // the text on instead and Clear() nothing but the bytes (see Drain()).
    virtual void MakeRoom(std::size_t bytes);
    // Empties the buffer but keeps the open containers.
    void Drain() { used_ = 0; }
    void Grow(std::size_t bytes);

  private:
    void Open(char bracket);
    void Close(char bracket);
    void Scalar(std::string_view text);
    // Writes an image coordinate (a small decimal) in the writer's NumberForm; false for any
    // other value.
    bool WriteSmallNumber(double value, char*& out) const;
    // The separator, line break and indent before a value or key in a container. Inline: it
    // precedes every value.
    void BeginItem() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        if (open_ == 0) return;  // the value itself
        if (!empty_) {
            Reserve(1);
            buffer_[used_++] = ',';
        }
        empty_ = false;
        if (indent_ >= 0) NewLine(open_);
    }
    void Append(std::string_view bytes);
    void Reserve(std::size_t bytes) {
        if (used_ + bytes > capacity_) MakeRoom(bytes);
    }
    void NewLine(std::size_t level);

    const int indent_;
    const std::size_t depth_;
    const NumberForm numbers_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    std::vector<char> outerEmpty_;  // per enclosing open container: nothing in it yet
    std::size_t open_ = 0;          // open containers
    bool empty_ = false;            // the innermost open container has nothing in it yet
    bool afterKey_ = false;
};

}  // namespace annoxml::detail
