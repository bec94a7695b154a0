#include "reader/load.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "annoxml/reader.h"
#include "platform/platform.h"
#include "reader/declared_encoding.h"

namespace annoxml::detail {
namespace {

constexpr std::size_t kStreamChunk = 1 << 16;

std::string Description(pugi::xml_parse_status status) {
    pugi::xml_parse_result result;
    result.status = status;
    return result.description();
}

// Bytes allocated with the parser's allocation functions, so that a document can own them.
class ParserBuffer {
  public:
    ParserBuffer() = default;
    ~ParserBuffer() { Free(data_); }
    ParserBuffer(const ParserBuffer&) = delete;
    ParserBuffer& operator=(const ParserBuffer&) = delete;

    char* data() { return data_; }
    std::size_t size() const { return size_; }
    std::string_view view() const { return {data_, size_}; }

    // Room for at least `extra` more bytes after the filled ones.
    void Reserve(std::size_t extra) {
        if (capacity_ - size_ >= extra) return;
        const std::size_t capacity = std::max(size_ + extra, capacity_ * 2);
        char* grown = static_cast<char*>(pugi::get_memory_allocation_function()(capacity));
        if (grown == nullptr) throw std::bad_alloc();
        if (size_ != 0) std::memcpy(grown, data_, size_);
        Free(data_);
        data_ = grown;
        capacity_ = capacity;
    }
    char* end() { return data_ + size_; }
    std::size_t room() const { return capacity_ - size_; }
    void Grow(std::size_t filled) { size_ += filled; }

    // Hands the bytes over to the caller, who frees them with the parser's functions.
    char* Release() {
        char* released = data_;
        data_ = nullptr;
        size_ = capacity_ = 0;
        return released;
    }

  private:
    static void Free(char* data) {
        if (data != nullptr) pugi::get_memory_deallocation_function()(data);
    }

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { platform::CloseQuietly(fd_); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

[[noreturn]] void FailToOpen(int error) {
    // Kept as the parser words it when the file is missing, as before.
    if (error == ENOENT || error == ENOTDIR) FailToLoad(Description(pugi::status_file_not_found));
    FailToLoad(std::strerror(error));
}

// The whole content of the file, read piece by piece so that pipes and FIFOs work as well as
// regular files.
void ReadWhole(const std::string& path, ParserBuffer& buffer) {
    int fd = -1;
    try {
        fd = platform::OpenForReading(path);
    } catch (const platform::SystemError& error) {
        FailToOpen(error.error);
    }
    const Descriptor file(fd);
    try {
        const std::int64_t size = platform::RegularFileSize(fd);
        // One spare byte lets a regular file's end be found without growing the buffer.
        buffer.Reserve(size >= 0 ? static_cast<std::size_t>(size) + 1 : kStreamChunk);
        for (;;) {
            if (buffer.room() == 0) buffer.Reserve(kStreamChunk);
            const std::size_t n = platform::Read(fd, buffer.end(), buffer.room());
            if (n == 0) return;
            buffer.Grow(n);
        }
    } catch (const platform::SystemError& error) {
        FailToLoad(std::strerror(error.error));
    }
}

pugi::xml_document Parsed(ParserBuffer& buffer) {
    pugi::xml_document doc;
    pugi::xml_parse_result result;
    if (const std::optional<std::string> encoding = EncodingToTranscode(buffer.view())) {
        const std::string text = TranscodeToUtf8(*encoding, buffer.view());
        result =
            doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
    } else if (ParserReadsAsUtf8(buffer.view())) {
        // Zero-terminated, as the parser's own file loading hands UTF-8 text to the parser.
        buffer.Reserve(1);
        *buffer.end() = '\0';
        const std::size_t size = buffer.size() + 1;
        result = doc.load_buffer_inplace_own(buffer.Release(), size, pugi::parse_default,
                                             pugi::encoding_utf8);
    } else {
        const std::size_t size = buffer.size();
        result = doc.load_buffer_inplace_own(buffer.Release(), size, pugi::parse_default,
                                             pugi::encoding_auto);
    }
    if (!result) FailToLoad(result.description());
    return doc;
}

}  // namespace

void FailToLoad(const std::string& reason) {
    throw std::runtime_error("Failed to load xml file: " + reason);
}

pugi::xml_document LoadDocument(const std::string& path) {
    ParserBuffer buffer;
    ReadWhole(path, buffer);
    return Parsed(buffer);
}

}  // namespace annoxml::detail

pugi::xml_document LoadXml(const std::string& path) {
    // Loads on several threads write their paths one after another, never into each other.
    static std::mutex echoMutex;
    {
        const std::lock_guard<std::mutex> lock(echoMutex);
        std::cout << path;
    }
    return annoxml::detail::LoadDocument(path);
}
