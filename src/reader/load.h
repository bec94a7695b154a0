// Loading documents, shared by LoadXml and the frame model.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include <pugixml.hpp>

namespace annoxml::detail {

// Bytes allocated with the parser's allocation functions, so that a document can own them.
class DocumentBytes {
  public:
    DocumentBytes() = default;
    ~DocumentBytes() { Free(data_); }
    DocumentBytes(DocumentBytes&& other) noexcept
        : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }
    DocumentBytes(const DocumentBytes&) = delete;
    DocumentBytes& operator=(const DocumentBytes&) = delete;
    DocumentBytes& operator=(DocumentBytes&&) = delete;

    char* data() { return data_; }
    std::size_t size() const { return size_; }
    // Empties the buffer, keeping its room unless that is larger than `kept` bytes.
    void Clear(std::size_t kept) {
        size_ = 0;
        if (capacity_ <= kept) return;
        Free(data_);
        data_ = nullptr;
        capacity_ = 0;
    }
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

// The whole content of the file at `path` (regular file, pipe, FIFO or device). Throws as
// LoadDocument does when it cannot be read.
DocumentBytes ReadDocumentBytes(const std::string& path);
// The same into `bytes`, which it empties first, in the room they have.
void ReadDocumentBytes(const std::string& path, DocumentBytes& bytes);

// While one lives, ReadDocumentBytes on its thread opens each file by name in its folder, which
// stays open from one file to the next: files read in folder order then cost the system the
// lookup of one name each instead of every folder on their path. For threads that read many
// files, such as a frame pipeline's; the folder is closed with it.
class FolderLookups {
  public:
    FolderLookups();
    ~FolderLookups();
    FolderLookups(const FolderLookups&) = delete;
    FolderLookups& operator=(const FolderLookups&) = delete;

    // Opens `path` for reading, as platform::OpenForReading does, through the calling thread's
    // FolderLookups when it has one.
    static int OpenOnThisThread(const std::string& path);

  private:
    int Open(const std::string& path);

    std::string folder_;  // with its final separator
    int descriptor_ = -1;
    FolderLookups* outer_;
};

// Parses bytes read by ReadDocumentBytes, which it takes over, as LoadDocument parses a file.
pugi::xml_document ParseDocumentBytes(DocumentBytes& bytes);

// What LoadXml writes to standard output before it loads: the path, under a lock.
void EchoLoadedPath(const std::string& path);

// Loads the file without echoing its path. Reads regular files, pipes, FIFOs and devices alike;
// a document that declares an encoding the parser does not know is transcoded to UTF-8 first.
// Throws std::runtime_error("Failed to load xml file: " + reason) when it cannot.
pugi::xml_document LoadDocument(const std::string& path);

// Throws std::runtime_error("Failed to load xml file: " + reason).
[[noreturn]] void FailToLoad(const std::string& reason);

}  // namespace annoxml::detail
