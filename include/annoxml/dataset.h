// Data sets: many frames into one standard COCO instances file, with the category, rename and
// split rules that every export shares.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "annoxml/export.h"
#include "annoxml/frame.h"

namespace annoxml {

struct Category {
    int id = 0;
    std::string name;
    std::string supercategory;
    std::string color;  // LabelColor where the name first appeared, "" when unknown
};

struct SplitShare {
    std::string name;  // "train", "val", "test", ...
    double share = 0;
};

enum class GroupBy { File, Folder };

struct DatasetOptions {
    // OLD -> NEW label names, applied before categories are resolved.
    std::vector<std::pair<std::string, std::string>> renames;
    // A fixed category list that keeps its ids; a label not in it fails its file. Without it the
    // categories are the union of label names in order of first appearance, ids from 1.
    std::optional<std::vector<Category>> categories;
    // Empty: one data set. Otherwise frames are assigned by a stable hash of their group key.
    std::vector<SplitShare> splits;
    std::uint64_t seed = 0;
    GroupBy groupBy = GroupBy::File;
    // Two frames with the same data-set file name fail the second (an export's images must be
    // distinct). Off where the same frames come several times, as from several raters.
    bool uniqueFileNames = true;
};

// A category list as JSON text: an array of {"id": integer, "name": string, "supercategory":
// string (optional)}. Throws std::runtime_error on anything else, and on a repeated id or name.
ANNOXML_API std::vector<Category> ParseCategoryList(const std::string& json);

// Split shares as written on a command line: "train=0.8,val=0.2" ("" for none). Throws
// std::invalid_argument, with a message that quotes the item at fault, unless every item is
// NAME=SHARE with a new name and a share above 0 and the shares add up to 1.
ANNOXML_API std::vector<SplitShare> ParseSplits(const std::string& text);

// Label renames as written on a command line: "OLD=NEW" each. Throws std::invalid_argument,
// quoting the text, for one without "=" or with an empty OLD.
ANNOXML_API std::vector<std::pair<std::string, std::string>> ParseRenames(
    const std::vector<std::string>& renames);

// One annotation file to read, as listed from the inputs a user gave. Studies list hundreds of
// thousands of these, so the relative path and folder are views into `path`, not copies.
struct ANNOXML_API FrameSource {
    static FrameSource File(std::string path);
    // `path` is the input folder joined with the file's path below it, the last `relativeLength`
    // bytes.
    static FrameSource Below(std::string path, std::size_t relativeLength);
    static FrameSource StandardInput();

    // The path below the input folder given ("ward-b/0211.xml"), the path as given for an input
    // file, "-" for standard input. The split's group key derives from it, so it does not depend
    // on where the data set lies.
    std::string_view relativePath() const;
    // The relative folder below the input folder given, "" for an input file.
    std::string_view folder() const;

    std::string path;                 // to open
    std::uint32_t relativeStart = 0;  // path.size() for standard input
    std::uint32_t folderLength = 0;
};

// Every input file as is ("-" is standard input), and every *.xml below each input folder sorted by
// path in byte order. Throws std::runtime_error naming a folder that cannot be listed. With
// `keepFolderNames` (the default when several inputs are given) the path below an input folder
// starts with the folder's own name ("a/x.xml" for dup/a/x.xml), so that files of several folders
// keep distinct data-set file names; "." and ".." have no name to keep.
ANNOXML_API std::vector<FrameSource> ListFrameSources(const std::vector<std::string>& inputs);
ANNOXML_API std::vector<FrameSource> ListFrameSources(const std::vector<std::string>& inputs,
                                                      bool keepFolderNames);

// Sources handed out one at a time, in input order, to a reader that need not hold them all.
class ANNOXML_API FrameSourceStream {
  public:
    virtual ~FrameSourceStream() = default;
    // Moves the next source into `source`; false when there is none left.
    virtual bool Next(FrameSource& source) = 0;
    // How many sources there are in all, as known before the first: the progress bar's total.
    virtual std::size_t Count() const = 0;
};

// The sources of ListFrameSources in the same order, listed as they are taken: a folder's entries
// when the walk enters it, sorted by name with a folder's name followed by "/", which orders them
// as their whole paths sort. Memory follows the largest folder, not the whole study.
class ANNOXML_API FrameSourceWalk : public FrameSourceStream {
  public:
    // Counts the files of every input, listing folders on `threads` threads, so that Count() is
    // known and every folder has been listed once before the first file is read. The listings of
    // the first folders, up to about 80,000 files in all, are kept for the walk; larger studies
    // have the rest listed again as the walk enters them, so that memory stays flat. An input
    // folder of which any folder cannot be listed is passed to `unlisted`, when set, with the
    // message that names it, and left out; without `unlisted`, std::runtime_error is thrown with
    // that message.
    FrameSourceWalk(std::vector<std::string> inputs, bool keepFolderNames,
                    const std::function<void(const std::string& message)>& unlisted = {},
                    unsigned threads = 1);
    ~FrameSourceWalk() override;
    FrameSourceWalk(const FrameSourceWalk&) = delete;
    FrameSourceWalk& operator=(const FrameSourceWalk&) = delete;

    bool Next(FrameSource& source) override;
    std::size_t Count() const override { return count_; }

    // Folders that could be listed when counted but no longer when walked, with the message that
    // names each; their files are left out.
    const std::vector<std::string>& lateFailures() const { return lateFailures_; }

    // Whether sources of the relative folder `folder` (FrameSource::folder) may come again after
    // those of another folder that is not below it: true for "" (input files, and the files at
    // the top of an input folder without its name kept), and for the folders of input folders
    // whose kept names are alike. The files of any other folder come together, but for the files
    // of folders below it. The function may outlive the walk.
    std::function<bool(std::string_view folder)> FolderMayRecur() const;

  private:
    // A folder's entries in walk order, each "NAME" or "NAME/" at [first, first + second) of
    // `names`.
    struct Listing {
        std::string names;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
    };
    // A folder being walked: its path with a final "/", and its entries.
    struct Level {
        std::string path;
        Listing listing;
        std::size_t next = 0;
    };
    class Census;

    static void List(const std::string& folder, Listing& listing);
    void Enter(std::string folder);

    // The inputs that could be listed, "-" and files included, each with whether it is a folder.
    std::vector<std::pair<std::string, bool>> inputs_;
    bool keepFolderNames_;
    std::size_t count_ = 0;
    std::size_t nextInput_ = 0;
    std::size_t relativeStart_ = 0;  // where the path below the input starts, in its paths
    // The folder being walked and those above it, first; those beyond depth_ are kept for reuse.
    std::vector<Level> levels_;
    std::size_t depth_ = 0;
    std::vector<std::string> lateFailures_;
    // Listings the count made, by folder path; each is taken when the walk enters its folder.
    std::unordered_map<std::string, Listing> kept_;
};

// Why a region is left out of every export.
enum class LeftOutReason {
    ZeroArea,      // its outline encloses no area
    OutsideImage,  // no part of it with an area lies inside the image
};

// The one region rule of every export (data set, masks, YOLO detect and segment): a region counts
// unless its outline has no area, or, in a frame of known size, nothing of it with an area lies
// inside the image. std::nullopt when it counts.
ANNOXML_API std::optional<LeftOutReason> RegionLeftOut(const Region& region, int width, int height);

// A region the catalog left out of a frame.
struct LeftOutRegion {
    ShapeKind kind = ShapeKind::Rectangle;
    std::string index;
    LeftOutReason reason = LeftOutReason::ZeroArea;
};

// The image of an annotation file: FileName's last component after '/' or '\' (annotation tools
// on Windows may write a full path such as "C:\Endo\case 7\f.png").
ANNOXML_API std::string_view ImageFileName(std::string_view fileName);

// The frame's file name in a data set: the source's folder below its input folder joined with
// ImageFileName(frame.fileName), or that alone.
ANNOXML_API std::string DatasetFileName(const FrameSource& source, const Frame& frame);

// A frame as it enters a data set: labels renamed, the regions that count kept, every region's
// category resolved, its split and data-set file name known.
struct DatasetFrame {
    Frame frame;                         // its regions: those that count, in document order
    std::string fileName;                // folder + "/" + ImageFileName(FileName), or that alone
    std::string split;                   // "" without splits
    std::vector<int> categoryIds;        // one per region of frame.regions
    std::vector<LeftOutRegion> leftOut;  // the regions the rule left out, in document order
};

// Where a frame would find its image: `imagesDir` joined with the data-set file name, then with
// ImageFileName(FileName) alone, then ImageFileName(FileName) beside the annotation file. The
// first regular file of these; std::nullopt when there is none. `imagesDir` may be "".
ANNOXML_API std::optional<std::string> FindFrameImage(const DatasetFrame& frame,
                                                      const std::string& imagesDir);
// The same for a frame not admitted to a catalog, with its data-set file name.
ANNOXML_API std::optional<std::string> FindFrameImage(const Frame& frame,
                                                      const std::string& datasetFileName,
                                                      const std::string& imagesDir);

// A frame whose data-set file name another frame of the data set has already: both would read
// the same image.
class ANNOXML_API DuplicateFileName : public FrameError {
  public:
    using FrameError::FrameError;
};

// What the catalog admitted: images per split and the regions left out, by reason.
struct AdmissionTally {
    // Each split in the options' order with its images; one entry named "" without splits.
    std::vector<std::pair<std::string, std::size_t>> images;
    std::size_t zeroArea = 0;
    std::size_t outsideImage = 0;
    std::size_t groups = 0;  // distinct group keys (counted with splits only)

    std::size_t leftOut() const { return zeroArea + outsideImage; }
};

// "3 regions left out: 2 zero-area, 1 outside the image"; "" when none was.
ANNOXML_API std::string LeftOutSummary(const AdmissionTally& tally);
// "images per split: 48 train, 12 val"; "images: 60" without splits.
ANNOXML_API std::string SplitSummary(const AdmissionTally& tally);

// Resolves categories and splits for frames offered in data-set order. Not thread-safe: frames
// are read on many threads but admitted on one, in order, so ids do not depend on timing.
class ANNOXML_API DatasetCatalog {
  public:
    explicit DatasetCatalog(DatasetOptions options);

    // Renames labels, leaves out the regions that do not count (RegionLeftOut), resolves
    // categories and assigns the split. Throws FrameError (and adds nothing) when a region's
    // label is not in a fixed category list, DuplicateFileName, naming both annotation files,
    // when an earlier frame has the same data-set file name.
    DatasetFrame Admit(Frame frame, const FrameSource& source);

    const std::vector<Category>& categories() const { return categories_; }
    const DatasetOptions& options() const { return options_; }
    const AdmissionTally& tally() const { return tally_; }

    // Frames will be admitted in the order of a FrameSourceWalk, whose FolderMayRecur() this is:
    // the catalog then forgets the file names of a folder once the walk has left it for good, so
    // that memory follows the largest folder rather than the study.
    void AdmitInWalkOrder(std::function<bool(std::string_view folder)> folderMayRecur);

    // Throws std::runtime_error when a named split has received no frame, naming the split, the
    // number of groups, and what to change. Training tools refuse a data set with an empty
    // split, so an export checks this before it puts its output in place.
    void CheckSplits() const;

  private:
    const std::string& Renamed(const std::string& name) const;
    void AddCategory(const Label& label);
    std::vector<int> CategoryIds(const Frame& frame) const;

    DatasetOptions options_;
    std::vector<Category> categories_;
    std::unordered_map<std::string, std::string> renames_;
    std::unordered_map<std::string, int> idsByName_;
    // The image file names (ImageFileName) admitted from one relative folder, with the path of
    // the source of each: "IMAGE\0" then "/NAME\0" for a source in sourceFolder_, "=PATH\0"
    // for any other, one after another, found through an open addressing table of their
    // offsets plus one (0: empty). Far leaner than a map of strings.
    class FolderFileNames {
      public:
        // The source of an earlier frame with the image `image`, or nothing.
        std::optional<std::string> Owner(std::string_view image) const;
        void Add(std::string_view image, const std::string& source);
        // Forgets every name, keeping the memory for another folder.
        void Clear();

      private:
        void Place(std::size_t offset);

        std::string sourceFolder_;  // of the first source, with its final "/"
        std::string text_;
        std::vector<std::size_t> slots_;
        std::size_t count_ = 0;
    };
    void EnterFolder(std::string_view folder);
    void CountGroup(const FrameSource& source, const std::string& key);

    std::unordered_map<std::string, FolderFileNames> fileNames_;  // by relative folder
    FolderFileNames spareNames_;  // a forgotten folder's memory, for the next folder
    std::function<bool(std::string_view folder)> folderMayRecur_;  // set in walk order
    std::vector<std::string> openFolders_;  // walk order: the current folder and those above it
    std::unordered_set<std::size_t> groupHashes_;
    AdmissionTally tally_;
};

// The key by which a source is assigned to a split: its relative path, or the folder of it.
ANNOXML_API std::string GroupKey(const FrameSource& source, GroupBy groupBy);

// What DatasetWriter::Add writes for the regions of a frame, formatted ahead but for their ids.
// This is most of the work of adding a frame and needs nothing from the writer, so it can be
// done on the threads that read the frames.
class ANNOXML_API PreparedAnnotations {
  public:
    PreparedAnnotations() = default;
    // `indent` as the writer's that will take them.
    PreparedAnnotations(const Frame& frame, int indent);

    // The memory held.
    std::size_t bytes() const;

  private:
    friend class DatasetWriter;
    int indent_ = -1;
    std::string bodies_;             // each region's annotation after its ids
    std::vector<std::size_t> ends_;  // where each region's body ends in bodies_
};

// Writes a data set as standard COCO instances JSON: one file, or one per split named with
// "_NAME" before the extension (instances.json -> instances_train.json). Images and annotations
// are streamed, so memory does not grow with the number of frames. Nothing appears at the
// paths before Commit(); a writer destroyed without it leaves them as they were.
class ANNOXML_API DatasetWriter {
  public:
    // `catalog` gives the splits now and the categories at Commit(); it must outlive the
    // writer. `indent` < 0: compact; otherwise pretty with that many spaces per level.
    DatasetWriter(const std::string& path, const DatasetCatalog& catalog, int indent = -1);
    ~DatasetWriter();
    DatasetWriter(const DatasetWriter&) = delete;
    DatasetWriter& operator=(const DatasetWriter&) = delete;

    // Adds one image and its annotations, in data-set order. Throws std::runtime_error when a
    // file cannot be written.
    void Add(const DatasetFrame& frame);
    // The same with the regions' annotations prepared for `frame.frame` at this writer's indent
    // (on any thread). Throws std::invalid_argument when they were prepared for another indent
    // or another count of regions.
    void Add(const DatasetFrame& frame, const PreparedAnnotations& annotations);
    // Writes the categories and makes every file appear.
    void Commit();

    struct FileSummary {
        std::string path;
        std::string split;
        int images = 0;
        int annotations = 0;
    };
    // The files written, in split order, with what each holds.
    std::vector<FileSummary> files() const;
    // Files beside them of the same stem (PATH itself, or with "_NAME" before the extension) that
    // this writer does not write: split files an earlier run left, sorted.
    std::vector<std::string> StaleFiles() const;

  private:
    struct SplitFile;
    SplitFile& FileFor(const std::string& split);

    const DatasetCatalog& catalog_;
    int indent_;
    std::string path_;
    std::vector<std::unique_ptr<SplitFile>> files_;
};

// The file of one split: `path` with "_NAME" inserted before its extension.
ANNOXML_API std::string SplitPath(const std::string& path, const std::string& split);

// The split of a group key: a stable hash of (seed, key) placed on the cumulative shares.
ANNOXML_API const std::string& AssignSplit(const std::string& groupKey,
                                           const std::vector<SplitShare>& splits,
                                           std::uint64_t seed);

}  // namespace annoxml
