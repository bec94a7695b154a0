#include "util/export_folder.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "platform/platform.h"

namespace annoxml::detail {
namespace fs = std::filesystem;
namespace {

bool IsEmptyFolder(const fs::path& folder) {
    std::error_code error;
    return fs::directory_iterator(folder, error) == fs::directory_iterator() && !error;
}

void CheckReplaceable(const std::string& outDir, bool force) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(fs::u8path(outDir), error);
    if (!fs::exists(status)) return;
    if (!fs::is_directory(status)) {
        throw std::runtime_error(outDir + " is not a folder; give a folder to write the export to");
    }
    if (force || IsEmptyFolder(fs::u8path(outDir)) ||
        fs::exists(fs::u8path(outDir) / ExportFolder::kMarker, error)) {
        return;
    }
    throw std::runtime_error(outDir +
                             " is not empty and was not written by annoxml: its files would be "
                             "replaced; give another --out-dir, or --force to replace it");
}

}  // namespace

ExportFolder::ExportFolder(std::string outDir, bool force) : outDir_(std::move(outDir)) {
    if (outDir_.empty()) throw std::runtime_error("no output folder given");
    CheckReplaceable(outDir_, force);
    const fs::path parent = fs::absolute(fs::u8path(outDir_)).lexically_normal().parent_path();
    std::error_code error;
    fs::create_directories(parent, error);
    if (error) {
        throw std::runtime_error("Cannot create " + parent.string() + ": " + error.message());
    }
    for (int attempt = 0; attempt < 100 && staging_.empty(); ++attempt) {
        const fs::path candidate = Beside("new");
        if (fs::create_directory(candidate, error)) staging_ = candidate;
        if (error) {
            throw std::runtime_error("Cannot create " + candidate.string() + ": " +
                                     error.message());
        }
    }
    if (staging_.empty()) throw std::runtime_error("Cannot create a folder beside " + outDir_);
}

fs::path ExportFolder::Beside(const char* purpose) const {
    static std::atomic<unsigned> counter{0};
    fs::path out = fs::absolute(fs::u8path(outDir_)).lexically_normal();
    if (!out.has_filename()) out = out.parent_path();
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return out.parent_path() /
           fs::u8path("." + out.filename().string() + ".annoxml-" + purpose + "-" +
                      std::to_string(platform::ProcessId()) + "-" + std::to_string(++counter) +
                      "-" + std::to_string(ticks % 1000000));
}

ExportFolder::~ExportFolder() {
    if (!committed_ && !staging_.empty()) {
        std::error_code error;
        fs::remove_all(staging_, error);
    }
}

void ExportFolder::Commit() {
    {
        std::ofstream marker(staging_ / kMarker, std::ios::binary);
        marker << "Written by annoxml; a new export into this folder replaces it as a whole.\n";
        if (!marker) throw std::runtime_error("Cannot write " + (staging_ / kMarker).string());
    }
    fs::path out = fs::absolute(fs::u8path(outDir_)).lexically_normal();
    if (!out.has_filename()) out = out.parent_path();
    std::error_code error;
    const bool replacing = fs::exists(fs::symlink_status(out, error));
    const fs::path old = Beside("old");
    if (replacing) {
        fs::rename(out, old, error);
        if (error) {
            throw std::runtime_error("Cannot replace " + outDir_ + ": " + error.message());
        }
    }
    fs::rename(staging_, out, error);
    if (error) {
        std::error_code ignored;
        if (replacing) fs::rename(old, out, ignored);
        throw std::runtime_error("Cannot write " + outDir_ + ": " + error.message());
    }
    committed_ = true;
    if (replacing) fs::remove_all(old, error);
}

void CopyToNewFile(const fs::path& from, const fs::path& to) {
    std::ifstream in(from, std::ios::binary);
    if (!in) throw std::runtime_error("Cannot read " + from.string());
    int fd = -1;
    try {
        fd = platform::CreateNewFile(to.string());
        if (fd < 0) throw platform::SystemError{EEXIST};
        std::vector<char> buffer(1 << 16);
        while (in) {
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            platform::WriteAll(fd, {buffer.data(), static_cast<std::size_t>(in.gcount())});
        }
        const int written = fd;
        fd = -1;
        platform::Close(written);
    } catch (const platform::SystemError& error) {
        if (fd >= 0) platform::CloseQuietly(fd);
        if (error.error != EEXIST) platform::RemoveQuietly(to.string());
        throw std::runtime_error("Cannot write " + to.string() + ": " + std::strerror(error.error));
    }
    if (!in.eof()) {
        platform::RemoveQuietly(to.string());
        throw std::runtime_error("Cannot read " + from.string());
    }
}

}  // namespace annoxml::detail
