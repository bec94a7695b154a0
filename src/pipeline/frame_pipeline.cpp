#include "annoxml/pipeline.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "reader/load.h"

namespace annoxml {
namespace {

using Clock = std::chrono::steady_clock;

// Items read ahead of the consumer, per thread: enough that readers and consumer wake each other
// once per many small files rather than per file...
constexpr std::size_t kWindowPerThread = 32;
// ...and bytes: large frames take a few slots each, so that memory stays bounded.
constexpr std::size_t kHeldBytesBudget = std::size_t{64} << 20;
constexpr auto kStopPoll = std::chrono::milliseconds(50);
// Items that hold less go back to the thread that read them to be freed there (see Retire).
constexpr std::size_t kReturnedItemBytes = std::size_t{1} << 20;

// The sources in input order, from a list or a stream, one ahead, so that whether any is left is
// known before it is taken.
class SourceFeed {
  public:
    explicit SourceFeed(const std::vector<FrameSource>& list) : list_(&list) {}
    explicit SourceFeed(FrameSourceStream& stream) : stream_(&stream) { Prefetch(); }

    bool Done() const { return list_ ? taken_ == list_->size() : !ahead_; }
    std::size_t Count() const { return list_ ? list_->size() : stream_->Count(); }

    // The next source: an element of the list, or the stream's moved into `taken`.
    const FrameSource* Take(FrameSource& taken) {
        if (list_) return &(*list_)[taken_++];
        taken = std::move(*ahead_);
        Prefetch();
        return &taken;
    }

  private:
    void Prefetch() {
        if (!ahead_) ahead_.emplace();
        if (!stream_->Next(*ahead_)) ahead_.reset();
    }

    const std::vector<FrameSource>* list_ = nullptr;
    std::size_t taken_ = 0;
    FrameSourceStream* stream_ = nullptr;
    std::optional<FrameSource> ahead_;
};

// An item with the source it was read from, when that came from a stream.
struct OwnedItem {
    FrameItem item;
    FrameSource source;
};

// Items travel by pointer: they move from reader to window to consumer and back, and a frame
// with all its strings is slow to move.
using ItemPointer = std::unique_ptr<OwnedItem>;

// Reads `source`, which is `*taken` when the item is to own it.
ItemPointer ReadItem(const FrameSource* source, FrameSource* taken,
                     const PipelineOptions& options) {
    auto owned = std::make_unique<OwnedItem>();
    FrameItem* item = &owned->item;
    if (source == taken) {
        owned->source = std::move(*taken);
        source = &owned->source;
    }
    item->source = source;
    try {
        item->frame = ReadFrame(source->path, options.collectProblems ? &item->problems : nullptr);
        if (options.prepare) options.prepare(*item);
    } catch (const FrameError& error) {
        item->frame.reset();
        item->error = error.detail();
    } catch (const std::exception& error) {
        item->frame.reset();
        item->error = *error.what() ? error.what() : "unknown error";
    }
    return owned;
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
    ReorderWindow(SourceFeed& sources, std::size_t window, std::size_t readers,
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
        const detail::FolderLookups lookups;
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            while (!Claimable() && !Stopped()) {
                ++waitingReaders_;
                space_.wait_for(lock, kStopPoll);
                --waitingReaders_;
            }
            if (Stopped() || sources_.Done()) {
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

    // Claims up to `atMost` positions (the lock held and Claimable()), reads their items without
    // the lock, and stores them. Positions are claimed and stored a few at a time, so that the
    // lock is taken less often than per file.
    void ReadClaimed(std::unique_lock<std::mutex>& lock, std::size_t atMost, std::size_t reader) {
        const std::size_t first = claimed_;
        const std::size_t most = std::min(atMost, FreeSlots());
        FrameSource taken[kClaimedAtOnce];
        const FrameSource* sources[kClaimedAtOnce] = {};
        while (claimed_ - first < most && !sources_.Done()) {
            sources[claimed_ - first] = sources_.Take(taken[claimed_ - first]);
            ++claimed_;
        }
        const std::size_t count = claimed_ - first;
        std::vector<ItemPointer>& spent = freeing_[reader];
        spent.swap(spent_[reader]);
        lock.unlock();
        spent.clear();  // keeps its capacity for the next swap
        ItemPointer items[kClaimedAtOnce];
        std::size_t bytes[kClaimedAtOnce] = {};
        for (std::size_t i = 0; i < count; ++i) {
            items[i] = ReadItem(sources[i], &taken[i], options_);
            bytes[i] = HeldBytes(items[i]->item);
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
        if (sources_.Done() && delivered_ == claimed_) {
            return false;
        }
        while (!slots_[delivered_ % slots_.size()]) {
            if (Stopped() && delivered_ >= claimed_) {
                return false;
            }
            if (!Stopped() && !sources_.Done() && Claimable()) {
                ReadClaimed(lock, 1, 0);
                continue;
            }
            consumerWaiting_ = true;
            while (!Deliverable() && !(Stopped() && delivered_ >= claimed_)) {
                ready_.wait_for(lock, kStopPoll);
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
        return sources_.Done() ||
               (FreeSlots() > 0 && (held_ < kHeldBytesBudget || delivered_ == claimed_));
    }
    std::size_t FreeSlots() const { return delivered_ + slots_.size() - claimed_; }
    bool Stopped() const { return options_.stopRequested && options_.stopRequested(); }

    // Whether the waiting consumer should wake: the next item is there, and so are half a
    // window of items, or all there will be. Taking items in runs rather than one at a time
    // saves a wake-up and a thread switch per file.
    bool Deliverable() const {
        std::size_t run = 0;
        while (run < slots_.size() && slots_[(delivered_ + run) % slots_.size()]) ++run;
        return run > 0 && (run >= slots_.size() / 2 || delivered_ + run == claimed_ || Stopped());
    }

    SourceFeed& sources_;
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

PipelineSummary RunFramePipeline(SourceFeed& sources, const PipelineOptions& options,
                                 const FrameConsumer& consume) {
    const Clock::time_point start = Clock::now();
    const std::size_t threadCount =
        std::clamp<std::size_t>(options.threads, 1, std::max<std::size_t>(sources.Count(), 1));
    ReorderWindow window(sources, threadCount * kWindowPerThread, threadCount - 1, options);
    // The consuming thread reads too, so N threads in all.
    std::vector<std::thread> readers;
    for (std::size_t i = 1; i < threadCount; ++i) {
        readers.emplace_back([&window, i] { window.Read(i); });
    }

    PipelineSummary summary;
    const detail::FolderLookups lookups;
    while (ItemPointer owned = window.Next()) {
        FrameItem& item = owned->item;
        std::string error = Consumed(consume, item);
        if (!item.error.empty()) {
            error = item.error;  // the consumer saw the read failure and may not repeat it
        }
        ++(error.empty() ? summary.converted : summary.failed);
        if (options.delivered) {
            options.delivered(item, error, summary.converted + summary.failed);
        }
        window.Retire(std::move(owned));
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    const std::size_t done = summary.converted + summary.failed;
    summary.notStarted = std::max(sources.Count(), done) - done;
    summary.stopped = options.stopRequested && options.stopRequested();
    summary.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return summary;
}

}  // namespace

PipelineSummary RunFramePipeline(const std::vector<FrameSource>& sources,
                                 const PipelineOptions& options, const FrameConsumer& consume) {
    SourceFeed feed(sources);
    return RunFramePipeline(feed, options, consume);
}

PipelineSummary RunFramePipeline(FrameSourceStream& sources, const PipelineOptions& options,
                                 const FrameConsumer& consume) {
    SourceFeed feed(sources);
    return RunFramePipeline(feed, options, consume);
}

}  // namespace annoxml
