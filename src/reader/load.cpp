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
constexpr std::int64_t kLargeFile = std::int64_t{8} << 20;

std::string Description(pugi::xml_parse_status status) {
    pugi::xml_parse_result result;
    result.status = status;
    return result.description();
}

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
// regular files. Of a regular file, the size it has when opened, as the parser's own loading
// reads it: one call to read, none more to find the end.
void ReadWhole(const std::string& path, DocumentBytes& buffer) {
    int fd = -1;
    try {
        fd = FolderLookups::OpenOnThisThread(path);
    } catch (const platform::SystemError& error) {
        FailToOpen(error.error);
    }
    const Descriptor file(fd);
    try {
        const std::int64_t size = platform::RegularFileSize(fd);
        // One spare byte for the terminating zero that parsing adds.
        buffer.Reserve(size >= 0 ? static_cast<std::size_t>(size) + 1 : kStreamChunk);
        if (size >= kLargeFile) platform::PrepareToFill(buffer.end(), buffer.room());
        for (;;) {
            if (size >= 0 && buffer.size() == static_cast<std::size_t>(size)) return;
            if (buffer.room() == 0) buffer.Reserve(kStreamChunk);
            const std::size_t n = platform::Read(fd, buffer.end(), buffer.room());
            if (n == 0) return;
            buffer.Grow(n);
        }
    } catch (const platform::SystemError& error) {
        FailToLoad(std::strerror(error.error));
    }
}

thread_local FolderLookups* threadLookups = nullptr;

}  // namespace

FolderLookups::FolderLookups() : outer_(threadLookups) { threadLookups = this; }

FolderLookups::~FolderLookups() {
    if (descriptor_ >= 0) platform::CloseQuietly(descriptor_);
    threadLookups = outer_;
}

int FolderLookups::OpenOnThisThread(const std::string& path) {
    return threadLookups ? threadLookups->Open(path) : platform::OpenForReading(path);
}

int FolderLookups::Open(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) {
        return platform::OpenForReading(path);
    }
    const std::string_view folder(path.data(), slash + 1);
    if (folder != folder_) {
        if (descriptor_ >= 0) platform::CloseQuietly(descriptor_);
        folder_.assign(folder);
        descriptor_ = platform::OpenFolderForLookups(folder_);
    }
    if (descriptor_ < 0) return platform::OpenForReading(path);
    return platform::OpenForReadingIn(descriptor_, path.c_str() + slash + 1);
}

pugi::xml_document ParseDocumentBytes(DocumentBytes& buffer) {
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

void FailToLoad(const std::string& reason) {
    throw std::runtime_error("Failed to load xml file: " + reason);
}

DocumentBytes ReadDocumentBytes(const std::string& path) {
    DocumentBytes bytes;
    ReadWhole(path, bytes);
    return bytes;
}

void ReadDocumentBytes(const std::string& path, DocumentBytes& bytes) {
    bytes.Clear(SIZE_MAX);
    ReadWhole(path, bytes);
}

pugi::xml_document LoadDocument(const std::string& path) {
    DocumentBytes bytes = ReadDocumentBytes(path);
    return ParseDocumentBytes(bytes);
}

void EchoLoadedPath(const std::string& path) {
    // Loads on several threads write their paths one after another, never into each other.
    static std::mutex echoMutex;
    const std::lock_guard<std::mutex> lock(echoMutex);
    std::cout << path;
}

}  // namespace annoxml::detail

pugi::xml_document LoadXml(const std::string& path) {
    annoxml::detail::EchoLoadedPath(path);
    return annoxml::detail::LoadDocument(path);
}
