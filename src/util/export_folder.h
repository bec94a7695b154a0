// An export folder that is replaced as a whole: built beside its place and put there complete.
#pragma once

#include <filesystem>
#include <string>

namespace annoxml::detail {

// The folder of one export run (masks, YOLO, preview). Files are written below staging(), a new
// hidden folder beside `outDir`; Commit() puts it in place of `outDir`, so a re-run leaves no
// file of an earlier run. An ExportFolder destroyed without Commit() (a failure, an interrupted
// run) removes what it wrote and leaves `outDir` as it was.
class ExportFolder {
  public:
    // The file that marks a folder as one this tool wrote, and may replace.
    static constexpr const char* kMarker = ".annoxml-export";

    // Throws std::runtime_error when `outDir` is something other than a folder, or a folder that
    // is not empty and has no marker (unless `force`), or when the staging folder cannot be
    // made.
    ExportFolder(std::string outDir, bool force);
    ~ExportFolder();
    ExportFolder(const ExportFolder&) = delete;
    ExportFolder& operator=(const ExportFolder&) = delete;

    const std::filesystem::path& staging() const { return staging_; }
    const std::string& outDir() const { return outDir_; }

    // Marks the staging folder and puts it in place of `outDir`; the earlier folder is removed.
    // Throws std::runtime_error when it cannot, leaving `outDir` as it was.
    void Commit();

  private:
    std::filesystem::path Beside(const char* purpose) const;

    std::string outDir_;
    std::filesystem::path staging_;
    bool committed_ = false;
};

// Copies `from` to the new file `to`; fails when `to` exists, so nothing is ever written through
// an existing entry. Throws std::runtime_error naming the file.
void CopyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace annoxml::detail
