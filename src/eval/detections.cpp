// COCO results files, streamed: each entry is parsed alone, turned into a compact Detection and
// dropped, so memory follows the detections kept rather than the JSON text.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "annoxml/eval.h"
#include "eval/segmentation.h"
#include "platform/platform.h"

namespace annoxml {
namespace {

using nlohmann::json;

// A file read in large blocks, walked one character at a time by the JSON parser.
class BlockReader {
  public:
    explicit BlockReader(std::FILE* file) : file_(file), buffer_(kBlock) { Fill(); }

    bool AtEnd() const { return used_ == filled_; }
    char Peek() const { return buffer_[used_]; }
    void Advance() {
        if (++used_ == filled_) Fill();
    }
    bool failed() const { return failed_; }

  private:
    static constexpr std::size_t kBlock = 1 << 20;
    void Fill() {
        filled_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        used_ = 0;
        if (filled_ == 0 && std::ferror(file_)) failed_ = true;
    }

    std::FILE* file_;
    std::vector<char> buffer_;
    std::size_t filled_ = 0;
    std::size_t used_ = 0;
    bool failed_ = false;
};

// An input iterator over a BlockReader; the default one is the end.
class BlockIterator {
  public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = char;

    BlockIterator() = default;
    explicit BlockIterator(BlockReader* reader) : reader_(reader) {}
    char operator*() const { return reader_->Peek(); }
    BlockIterator& operator++() {
        reader_->Advance();
        return *this;
    }
    bool operator==(const BlockIterator& other) const { return AtEnd() == other.AtEnd(); }
    bool operator!=(const BlockIterator& other) const { return !(*this == other); }

  private:
    bool AtEnd() const { return reader_ == nullptr || reader_->AtEnd(); }
    BlockReader* reader_ = nullptr;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::int64_t WholeIdOf(const json& entry, const char* key) {
    const auto found = entry.find(key);
    if (found == entry.end()) throw std::invalid_argument(std::string("no \"") + key + "\"");
    if (found->is_number_integer()) return found->get<std::int64_t>();
    if (found->is_number_float()) {
        const double value = found->get<double>();
        if (std::floor(value) == value && std::fabs(value) < 9e15) {
            return static_cast<std::int64_t>(value);
        }
    }
    throw std::invalid_argument(std::string("\"") + key + "\" is not an integer");
}

// The masks of one detection, made from its segmentation (or its box) apart from the parsing.
struct MaskWork {
    std::size_t item = 0;  // the entry's position, and its index in Detections::items
    std::optional<detail::SegmentationValue> segmentation;
};

void MakeMasks(Detection& detection, const MaskWork& work, const EvalImage& frame, MaskNeeds needs,
               bool areaFromBox) {
    if (work.segmentation) {
        const detail::SegmentationValue& value = *work.segmentation;
        if (needs.coco || !detection.hasBox || !areaFromBox) {
            const Rle mask = value.CocoMask();
            detection.maskArea = static_cast<double>(RleArea(mask));
            if (!detection.hasBox) detection.box = RleBox(mask);
            detection.mask = RleToString(mask);
        }
        if (needs.pixel && value.isPolygons()) {
            detection.pixelMask = RleToString(value.PixelMask());
        } else if (needs.pixel && detection.mask.empty()) {
            detection.mask = RleToString(value.CocoMask());  // an RLE is its own pixel mask
        }
        return;
    }
    const Box& b = detection.box;
    const double x1 = b.x, x2 = b.x + b.width, y1 = b.y, y2 = b.y + b.height;
    // As the reference does, a box without segmentation is its own polygon.
    if (needs.coco) {
        const Rle mask = RleFromPolygon(std::vector<double>{x1, y1, x1, y2, x2, y2, x2, y1},
                                        frame.height, frame.width);
        detection.maskArea = static_cast<double>(RleArea(mask));
        detection.mask = RleToString(mask);
    }
    if (needs.pixel) {
        detection.pixelMask = RleToString(detail::PixelMaskOf(
            {{x1, y1}, {x1, y2}, {x2, y2}, {x2, y1}}, frame.height, frame.width));
    }
}

class EntryReader {
  public:
    EntryReader(const GroundTruth& truth, MaskNeeds needs, unsigned threads, Detections& out)
        : truth_(truth), needs_(needs), threads_(std::max(1u, threads)), out_(out) {}

    void Add(const json& entry) {
        if (!entry.is_object()) throw std::invalid_argument("not an object");
        Detection detection;
        const std::int64_t imageId = WholeIdOf(entry, "image_id");
        const long image = truth_.ImageIndex(imageId);
        if (image < 0) throw std::invalid_argument("unknown image_id " + std::to_string(imageId));
        const std::int64_t categoryId = WholeIdOf(entry, "category_id");
        const long category = truth_.CategoryIndex(categoryId);
        if (category < 0) {
            throw std::invalid_argument("unknown category_id " + std::to_string(categoryId));
        }
        detection.image = static_cast<std::uint32_t>(image);
        detection.category = static_cast<std::uint32_t>(category);
        const auto score = entry.find("score");
        if (score == entry.end()) throw std::invalid_argument("no \"score\"");
        if (!score->is_number() || !std::isfinite(score->get<double>())) {
            throw std::invalid_argument("score is not a finite number");
        }
        detection.score = score->get<double>();
        const auto box = entry.find("bbox");
        if (box != entry.end() && !(box->is_array() && box->empty())) {
            detection.box = detail::ParseBox(*box);
            detection.hasBox = true;
        }
        if (out_.items.empty()) out_.areaFromBox = detection.hasBox;
        const EvalImage& frame = truth_.images()[detection.image];
        MaskWork work;
        work.item = out_.items.size();
        const auto segmentation = entry.find("segmentation");
        if (segmentation != entry.end()) {
            work.segmentation.emplace(*segmentation, frame.height, frame.width);
            detection.hasSegmentation = true;
        } else if (!detection.hasBox) {
            throw std::invalid_argument("neither \"bbox\" nor \"segmentation\"");
        }
        const bool needsMasks =
            needs_.coco || needs_.pixel ||
            (detection.hasSegmentation && (!detection.hasBox || !out_.areaFromBox));
        out_.items.push_back(std::move(detection));
        if (needsMasks) {
            pending_.push_back(std::move(work));
            if (pending_.size() >= kBatch * threads_) Flush();
        }
    }

    // Makes the masks of the detections read so far, on the threads. Throws DetectionError
    // naming the first entry whose mask cannot be made.
    void Flush() {
        std::atomic<std::size_t> next{0};
        std::mutex failureLock;
        std::size_t failedItem = SIZE_MAX;
        std::string failure;
        const auto work = [&] {
            for (std::size_t i = next++; i < pending_.size(); i = next++) {
                const MaskWork& job = pending_[i];
                Detection& detection = out_.items[job.item];
                try {
                    MakeMasks(detection, job, truth_.images()[detection.image], needs_,
                              out_.areaFromBox);
                } catch (const std::exception& error) {
                    const std::lock_guard<std::mutex> lock(failureLock);
                    if (job.item < failedItem) {
                        failedItem = job.item;
                        failure = error.what();
                    }
                }
            }
        };
        std::vector<std::thread> helpers;
        const std::size_t helperCount =
            std::min<std::size_t>(threads_ - 1, pending_.size() / kLeastPerThread);
        for (std::size_t i = 0; i < helperCount; ++i) helpers.emplace_back(work);
        work();
        for (std::thread& helper : helpers) helper.join();
        pending_.clear();
        if (failedItem != SIZE_MAX) throw DetectionError(where_(failedItem) + failure);
    }
    void SetWhere(std::function<std::string(std::size_t)> where) { where_ = std::move(where); }

  private:
    static constexpr std::size_t kBatch = 4096;
    static constexpr std::size_t kLeastPerThread = 256;

    const GroundTruth& truth_;
    MaskNeeds needs_;
    unsigned threads_;
    Detections& out_;
    std::vector<MaskWork> pending_;
    std::function<std::string(std::size_t)> where_;
};

}  // namespace

Detections LoadDetections(const std::string& path, const GroundTruth& truth, MaskNeeds needs,
                          unsigned threads) {
    std::unique_ptr<std::FILE, FileCloser> file(platform::OpenStreamForReading(path));
    if (!file) throw DetectionError(path + ": cannot be opened");
    Detections detections;
    EntryReader reader(truth, needs, threads, detections);
    std::size_t entry = 0;  // the position of the entry being read
    bool topIsArray = false;
    const auto entryAt = [&](std::size_t at) {
        return path + ": entry " + std::to_string(at) + ": ";
    };
    const auto where = [&] { return entryAt(entry); };
    reader.SetWhere(entryAt);
    const json::parser_callback_t callback = [&](int depth, json::parse_event_t event,
                                                 json& parsed) {
        if (depth == 0) {
            if (event == json::parse_event_t::array_start) {
                topIsArray = true;
            } else if (event != json::parse_event_t::array_end) {
                throw DetectionError(path + ": not an array of results");
            }
            return true;
        }
        if (depth != 1) return true;
        switch (event) {
            case json::parse_event_t::object_end:
            case json::parse_event_t::array_end:
            case json::parse_event_t::value:
                try {
                    reader.Add(parsed);
                } catch (const std::invalid_argument& error) {
                    throw DetectionError(where() + error.what());
                }
                ++entry;
                return false;  // dropped from the document: it lives on as a Detection
            default:
                return true;
        }
    };
    BlockReader blocks(file.get());
    try {
        const json rest = json::parse(BlockIterator(&blocks), BlockIterator(), callback);
        (void)rest;  // the empty array left when every entry has been taken
    } catch (const json::parse_error& error) {
        throw DetectionError(where() + "malformed JSON: " + error.what());
    }
    if (blocks.failed()) throw DetectionError(path + ": cannot be read");
    if (!topIsArray) throw DetectionError(path + ": not an array of results");
    reader.Flush();
    return detections;
}

}  // namespace annoxml
