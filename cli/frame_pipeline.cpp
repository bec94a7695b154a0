#include "frame_pipeline.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "console.h"
#include "stop_signals.h"

namespace annoxml::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Items read ahead of the consumer, per thread: enough that readers and consumer wake each other
// once per many small files rather than per file...
constexpr std::size_t kWindowPerThread = 32;
// ...and bytes: large frames take a few slots each, so that memory stays bounded.
constexpr std::size_t kHeldBytesBudget = std::size_t{64} << 20;
constexpr auto kSignalPoll = std::chrono::milliseconds(50);
// Items that hold less go back to the thread that read them to be freed there (see Retire).
constexpr std::size_t kReturnedItemBytes = std::size_t{1} << 20;

// Items travel by pointer: they move from reader to window to consumer and back, and a frame
// with all its strings is slow to move.
using ItemPointer = std::unique_ptr<FrameItem>;

ItemPointer ReadItem(const FrameSource& source, const PipelineOptions& options) {
    auto item = std::make_unique<FrameItem>();
    item->source = &source;
    try {
        item->frame = ReadFrame(source.path, options.collectProblems ? &item->problems : nullptr);
        if (options.prepare) options.prepare(*item);
    } catch (const FrameError& error) {
        item->frame.reset();
        item->error = error.detail();
    } catch (const std::exception& error) {
        item->frame.reset();
        item->error = *error.what() ? error.what() : "unknown error";
    }
    return item;
}

// About the memory an item holds.
std::size_t HeldBytes(const FrameItem& item) {
    std::size_t bytes = sizeof(FrameItem) + item.annotations.bytes();
    if (item.frame) {
        for (const Region& region : item.frame->regions) {
            bytes += sizeof(Region) + region.outline.capacity() * sizeof(Point);
        }
        for (const Mark& mark : item.frame->marks) {
            bytes += sizeof(Mark);
            for (const std::vector<Point>& part : mark.parts) {
                bytes += part.capacity() * sizeof(Point);
            }
        }
    }
    return bytes;
}

// Slots for the items between the consumer and the readers, indexed by position modulo the
// window. A reader claims position i only once i is within the window of the consumer.
class ReorderWindow {
  public:
    // `readers` threads call Read(1) to Read(readers); the consumer counts as reader 0.
    ReorderWindow(const std::vector<FrameSource>& sources, std::size_t window, std::size_t readers,
                  const PipelineOptions& options)
        : sources_(sources),
          slots_(window),
          slotBytes_(window),
          slotReaders_(window),
          spent_(readers + 1),
          freeing_(readers + 1),
          options_(options) {}

    // Reads items until the sources run out or a stop signal arrives.
    void Read(std::size_t reader) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            while (!Claimable() && StopSignal() == 0) {
                ++waitingReaders_;
                space_.wait_for(lock, kSignalPoll);
                --waitingReaders_;
            }
            if (StopSignal() != 0 || claimed_ == sources_.size()) {
                return;
            }
            ReadClaimed(lock, kClaimedAtOnce, reader);
        }
    }

    // The next item in input order; null when all are delivered, or when stopped and everything
    // claimed is delivered. Takes every item that is ready at once, and hands them out one by one
    // without the lock.
    ItemPointer Next() {
        if (taken_.empty() && !TakeReadyRun()) return nullptr;
        ItemPointer item = std::move(taken_.front().item);
        nextReader_ = taken_.front().reader;
        nextBytes_ = taken_.front().bytes;
        taken_.pop_front();
        return item;
    }

    // Disposes of the item Next() returned last. Memory is freed by the thread that allocated it:
    // the allocator then takes no lock that another thread holds, where a reading thread would
    // contend with the consumer freeing its items for every file.
    void Retire(ItemPointer item) {
        if (nextReader_ == 0 || nextBytes_ >= kReturnedItemBytes) return;
        retired_.push_back({std::move(item), nextReader_, 0});
    }

  private:
    static constexpr std::size_t kClaimedAtOnce = 2;

    // An item out of the window, with the thread that read it and its HeldBytes.
    struct TakenItem {
        ItemPointer item;
        std::size_t reader;
        std::size_t bytes;
    };

    // Claims up to `most` positions (the lock held and Claimable()), reads their items without
    // the lock, and stores them. Positions are claimed and stored a few at a time, so that the
    // lock is taken less often than per file.
    void ReadClaimed(std::unique_lock<std::mutex>& lock, std::size_t most, std::size_t reader) {
        const std::size_t first = claimed_;
        claimed_ += std::min({most, FreeSlots(), sources_.size() - claimed_});
        const std::size_t count = claimed_ - first;
        std::vector<ItemPointer>& spent = freeing_[reader];
        spent.swap(spent_[reader]);
        lock.unlock();
        spent.clear();  // keeps its capacity for the next swap
        ItemPointer items[kClaimedAtOnce];
        std::size_t bytes[kClaimedAtOnce] = {};
        for (std::size_t i = 0; i < count; ++i) {
            items[i] = ReadItem(sources_[first + i], options_);
            bytes[i] = HeldBytes(*items[i]);
        }
        lock.lock();
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t slot = (first + i) % slots_.size();
            held_ += bytes[i];
            slotBytes_[slot] = bytes[i];
            slotReaders_[slot] = reader;
            slots_[slot] = std::move(items[i]);
        }
        if (consumerWaiting_ && Deliverable()) ready_.notify_one();
    }

    // The consumer is one of the threads that read: while the next item is not there, it reads
    // one itself rather than wait, and waits only when there is nothing it may claim.
    bool TakeReadyRun() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (TakenItem& retired : retired_) {
            spent_[retired.reader].push_back(std::move(retired.item));
        }
        retired_.clear();
        if (delivered_ == sources_.size()) {
            return false;
        }
        while (!slots_[delivered_ % slots_.size()]) {
            if (StopSignal() != 0 && delivered_ >= claimed_) {
                return false;
            }
            if (StopSignal() == 0 && claimed_ < sources_.size() && Claimable()) {
                ReadClaimed(lock, 1, 0);
                continue;
            }
            consumerWaiting_ = true;
            while (!Deliverable() && !(StopSignal() != 0 && delivered_ >= claimed_)) {
                ready_.wait_for(lock, kSignalPoll);
            }
            consumerWaiting_ = false;
        }
        for (ItemPointer* slot = &slots_[delivered_ % slots_.size()]; *slot;
             slot = &slots_[delivered_ % slots_.size()]) {
            const std::size_t index = delivered_ % slots_.size();
            held_ -= slotBytes_[index];
            taken_.push_back({std::move(*slot), slotReaders_[index], slotBytes_[index]});
            ++delivered_;
        }
        if (waitingReaders_ > 0) space_.notify_all();
        return true;
    }

    // Whether a reader may claim more, or must stop because all is claimed. Past the byte budget
    // it waits, unless the consumer has nothing to wait for.
    bool Claimable() const {
        return claimed_ == sources_.size() ||
               (FreeSlots() > 0 && (held_ < kHeldBytesBudget || delivered_ == claimed_));
    }
    std::size_t FreeSlots() const { return delivered_ + slots_.size() - claimed_; }

    // Whether the waiting consumer should wake: the next item is there, and so are half a
    // window of items, or all there will be. Taking items in runs rather than one at a time
    // saves a wake-up and a thread switch per file.
    bool Deliverable() const {
        std::size_t run = 0;
        while (run < slots_.size() && slots_[(delivered_ + run) % slots_.size()]) ++run;
        return run > 0 &&
               (run >= slots_.size() / 2 || delivered_ + run == claimed_ || StopSignal() != 0);
    }

    const std::vector<FrameSource>& sources_;
    std::vector<ItemPointer> slots_;
    std::vector<std::size_t> slotBytes_;    // HeldBytes of each slot's item
    std::vector<std::size_t> slotReaders_;  // the thread that read each slot's item
    // Per reader, items consumed and waiting to be freed on that reader's thread.
    std::vector<std::vector<ItemPointer>> spent_;
    std::vector<std::vector<ItemPointer>> freeing_;  // each reader's own, emptied without the lock
    const PipelineOptions& options_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable space_;
    std::size_t claimed_ = 0;
    std::size_t delivered_ = 0;
    std::size_t waitingReaders_ = 0;
    std::size_t held_ = 0;  // HeldBytes of the items in slots_
    bool consumerWaiting_ = false;
    // The consumer's own: items taken out of the window, and those consumed and to be returned.
    std::deque<TakenItem> taken_;
    std::vector<TakenItem> retired_;
    std::size_t nextReader_ = 0;
    std::size_t nextBytes_ = 0;
};

std::string Consumed(const FrameConsumer& consume, FrameItem& item) {
    try {
        return consume(item);
    } catch (const FrameError& error) {
        return error.detail();
    } catch (const std::exception& error) {
        return *error.what() ? error.what() : "unknown error";
    }
}

// The sources of every input; a folder that cannot be listed is reported and counted.
std::vector<FrameSource> ListInputs(const std::vector<std::string>& inputs, std::size_t& failed) {
    std::vector<FrameSource> sources;
    for (const std::string& input : inputs) {
        try {
            // Several inputs keep their folders' own names in the data-set file names.
            std::vector<FrameSource> listed = ListFrameSources({input}, inputs.size() > 1);
            if (sources.empty()) {
                sources = std::move(listed);
            } else {
                std::move(listed.begin(), listed.end(), std::back_inserter(sources));
            }
        } catch (const std::runtime_error& error) {
            WriteError(std::string("annoxml: ") + error.what() + "\n");
            ++failed;
        }
    }
    return sources;
}

std::vector<std::pair<std::string, std::string>> ParseRenames(
    const std::vector<std::string>& renames) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const std::string& rename : renames) {
        const std::size_t equals = rename.find('=');
        if (equals == std::string::npos || equals == 0) {
            throw CLI::ValidationError("--rename", "\"" + rename + "\" is not OLD=NEW");
        }
        pairs.emplace_back(rename.substr(0, equals), rename.substr(equals + 1));
    }
    return pairs;
}

std::vector<SplitShare> ParseSplits(const std::string& text) {
    std::vector<SplitShare> splits;
    if (text.empty()) {
        return splits;
    }
    double total = 0;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        const std::size_t equals = item.find('=');
        const std::string name = item.substr(0, std::min(equals, item.size()));
        double share = -1;
        try {
            std::size_t used = 0;
            share = std::stod(item.substr(equals + 1), &used);
            if (used != item.size() - equals - 1) share = -1;
        } catch (const std::exception&) {
        }
        const bool known = std::any_of(splits.begin(), splits.end(),
                                       [&](const SplitShare& split) { return split.name == name; });
        if (equals == std::string::npos || name.empty() || !(share > 0) || known) {
            throw CLI::ValidationError("--split", "\"" + item +
                                                      "\" is not NAME=SHARE with a new name and "
                                                      "a share above 0");
        }
        splits.push_back({name, share});
        total += share;
    }
    if (std::abs(total - 1) > 1e-6) {
        throw CLI::ValidationError("--split",
                                   "the shares add up to " + std::to_string(total) + ", not 1");
    }
    return splits;
}

std::vector<Category> ReadCategories(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw CLI::ValidationError("--categories", path + ": cannot be read");
    }
    try {
        return ParseCategoryList({std::istreambuf_iterator<char>(in), {}});
    } catch (const std::runtime_error& error) {
        throw CLI::ValidationError("--categories", path + ": " + error.what());
    }
}

}  // namespace

void AddInputOptions(CLI::App& command, FrameOptions& options) {
    options.threads = std::max(1u, std::thread::hardware_concurrency());
    command
        .add_option("INPUT", options.inputs,
                    "Annotation files, folders to search for *.xml (sorted by path), or - for "
                    "standard input")
        ->required();
    command
        .add_option("-j,--jobs", options.threads,
                    "Files read at the same time (default: the machine's hardware threads)")
        ->check(CLI::Range(1u, 1024u));
    command.add_flag("-q,--quiet", options.quiet,
                     "Print only failures: no progress bar, no summary");
}

void AddCatalogOptions(CLI::App& command, FrameOptions& options) {
    command.add_option("--rename", options.renames,
                       "OLD=NEW: read the label OLD as NEW, so that spelling variants merge "
                       "(repeatable)");
    command.add_option("--categories", options.categoriesFile,
                       "JSON file with the category list [{\"id\", \"name\", \"supercategory\"}]; "
                       "its ids are kept, and a shape with another label fails its file");
    command.add_option("--split", options.splits,
                       "Shares of named splits, e.g. train=0.8,val=0.1,test=0.1; each frame is "
                       "assigned by a stable hash, so adding frames never moves others");
    command.add_option("--seed", options.seed, "Seed of the split assignment")
        ->capture_default_str();
    command
        .add_option("--group-by", options.groupBy,
                    "Assign splits per file, or per folder (one video or patient stays in one "
                    "split)")
        ->check(CLI::IsMember({"file", "folder"}))
        ->capture_default_str();
    command.parse_complete_callback([&options] { options.dataset = ToDatasetOptions(options); });
}

void AddFrameOptions(CLI::App& command, FrameOptions& options) {
    AddInputOptions(command, options);
    AddCatalogOptions(command, options);
}

DatasetOptions ToDatasetOptions(const FrameOptions& options) {
    DatasetOptions result;
    result.renames = ParseRenames(options.renames);
    if (!options.categoriesFile.empty()) {
        result.categories = ReadCategories(options.categoriesFile);
    }
    result.splits = ParseSplits(options.splits);
    result.seed = options.seed;
    result.groupBy = options.groupBy == "folder" ? GroupBy::Folder : GroupBy::File;
    return result;
}

BatchSummary RunFramePipeline(const std::vector<FrameSource>& sources,
                              const PipelineOptions& options, const FrameConsumer& consume) {
    const Clock::time_point start = Clock::now();
    const StopOnSignals stopOnSignals;
    const std::size_t threadCount =
        std::clamp<std::size_t>(options.threads, 1, std::max<std::size_t>(sources.size(), 1));
    ReorderWindow window(sources, threadCount * kWindowPerThread, threadCount - 1, options);
    // The consuming thread reads too, so -j N runs N threads in all.
    std::vector<std::thread> readers;
    for (std::size_t i = 1; i < threadCount; ++i) {
        readers.emplace_back([&window, i] { window.Read(i); });
    }

    BatchSummary summary;
    ProgressBar bar(sources.size(), options.progressBar);
    while (ItemPointer item = window.Next()) {
        std::string error = Consumed(consume, *item);
        if (!item->error.empty()) {
            error = item->error;  // the consumer saw the read failure and may not repeat it
        }
        ++(error.empty() ? summary.converted : summary.failed);
        const bool report = !error.empty() && options.reportFailures;
        bar.Report(
            (report ? "annoxml: " + item->source->path + ": " + error + "\n" : "") + item->lines,
            summary.converted + summary.failed);
        window.Retire(std::move(item));
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    bar.Clear();
    summary.notStarted = sources.size() - summary.converted - summary.failed;
    summary.stopSignal = StopSignal();
    summary.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return summary;
}

BatchSummary RunFrames(const FrameOptions& options, const FrameConsumer& consume,
                       PipelineOptions pipeline) {
    std::size_t unlisted = 0;
    const std::vector<FrameSource> sources = ListInputs(options.inputs, unlisted);
    pipeline.threads = options.threads;
    pipeline.progressBar = !options.quiet && sources.size() > 1 && StderrIsTerminal();
    BatchSummary summary = RunFramePipeline(sources, pipeline, consume);
    summary.failed += unlisted;
    return summary;
}

int FinishRun(const BatchSummary& summary, bool quiet) {
    if (!quiet) {
        WriteError(SummaryLine(summary));
    }
    return ExitStatus(summary);
}

}  // namespace annoxml::cli
