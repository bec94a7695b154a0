#include "coco/json_stream.h"

#include <stdexcept>

#include <nlohmann/json.hpp>

namespace annoxml::detail {

JsonStream::JsonStream(const std::string& path) : JsonWriter(4) {
    Grow(kBufferSize);
    try {
        file_ = std::make_unique<OutputFile>(path);
    } catch (const std::runtime_error&) {
        Defer(outputError_);
    }
}

void JsonStream::Defer(std::exception_ptr& slot) {
    if (!slot) slot = std::current_exception();
}

void JsonStream::Flush() {
    if (file_ && !text().empty()) {
        try {
            file_->Write(text());
        } catch (const std::runtime_error&) {
            Defer(outputError_);
            file_.reset();
        }
    }
    Drain();
}

void JsonStream::MakeRoom(std::size_t bytes) {
    Flush();
    Grow(bytes);
}

void JsonStream::String(std::string_view text) {
    try {
        JsonWriter::String(text);
    } catch (const nlohmann::ordered_json::type_error&) {
        Defer(textError_);
    }
}

void JsonStream::Commit() {
    Flush();
    if (textError_) std::rethrow_exception(textError_);
    if (outputError_) std::rethrow_exception(outputError_);
    file_->Commit();
}

}  // namespace annoxml::detail
