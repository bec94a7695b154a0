// Grey-scale PNG through libpng, streamed into an output file that appears complete or not at all.
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "annoxml/masks.h"
#include "util/atomic_file.h"

namespace annoxml {
namespace {

// What libpng's callbacks report back. libpng unwinds with longjmp, so no C++ exception may pass
// through it: callbacks catch, keep the exception here and let libpng unwind.
struct PngSink {
    detail::OutputFile* file = nullptr;
    std::exception_ptr writeError;
    std::string message;
};

PngSink& SinkOf(png_structp png) { return *static_cast<PngSink*>(png_get_io_ptr(png)); }

void OnError(png_structp png, png_const_charp message) {
    static_cast<PngSink*>(png_get_error_ptr(png))->message = message;
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnWrite(png_structp png, png_bytep data, png_size_t length) {
    PngSink& sink = SinkOf(png);
    try {
        sink.file->Write({reinterpret_cast<const char*>(data), length});
        return;
    } catch (...) {
        sink.writeError = std::current_exception();
    }
    png_error(png, "write failed");
}

void OnFlush(png_structp) {}

void PackRow(const MaskImage& image, int y, png_byte* out) {
    const std::uint16_t* row = image.row(y);
    if (image.bitDepth() == 8) {
        for (int x = 0; x < image.width(); ++x) out[x] = static_cast<png_byte>(row[x]);
        return;
    }
    for (int x = 0; x < image.width(); ++x) {  // PNG samples are big-endian
        out[2 * x] = static_cast<png_byte>(row[x] >> 8);
        out[2 * x + 1] = static_cast<png_byte>(row[x] & 0xff);
    }
}

// Returns false when libpng gave up; nothing here needs a destructor, so longjmp may leave it.
bool Encode(png_structp png, png_infop info, const MaskImage& image, png_byte* row) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()),
                 static_cast<png_uint_32>(image.height()), image.bitDepth(), PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Masks are long runs, and most rows repeat the row above: the "up" filter with run-length
    // zlib at a fast level gave smaller files than libpng's defaults, about three times faster.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_compression_strategy(png, Z_RLE);
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    for (int y = 0; y < image.height(); ++y) {
        PackRow(image, y, row);
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
}

}  // namespace

void WritePng(const MaskImage& image, const std::string& path) {
    detail::OutputFile file(path);
    PngSink sink;
    sink.file = &file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, OnError, OnWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        throw std::runtime_error("Cannot write " + path + ": out of memory");
    }
    png_set_write_fn(png, &sink, OnWrite, OnFlush);
    std::vector<png_byte> row(static_cast<std::size_t>(image.width()) * (image.bitDepth() / 8));
    const bool written = Encode(png, info, image, row.data());
    png_destroy_write_struct(&png, &info);
    if (sink.writeError) {
        std::rethrow_exception(sink.writeError);
    }
    if (!written) {
        throw std::runtime_error("Cannot write " + path + ": " + sink.message);
    }
    file.Commit();
}

}  // namespace annoxml
