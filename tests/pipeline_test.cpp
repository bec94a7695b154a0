// The library's frame pipeline and whole-study runs, and the catalog option text: what the tool
// and the Python package both rely on.
#include <atomic>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "annoxml/pipeline.h"
#include "annoxml/study.h"
#include "test_xml.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace annoxml {
namespace {

// `count` frames named by number, every third one unreadable.
std::vector<FrameSource> WriteFrames(const test::TempDir& dir, int count) {
    std::vector<FrameSource> sources;
    for (int i = 0; i < count; ++i) {
        const std::string name = "f" + std::to_string(1000 + i) + ".xml";
        dir.Write(name, i % 3 == 2
                            ? "<Annotation><ImageInformation>"
                            : "<Annotation><ImageInformation><FileName>" + std::to_string(i) +
                                  ".png</FileName><Width>8</Width><Height>8</Height>"
                                  "</ImageInformation><User UserID=\"u\"/></Annotation>");
        sources.push_back(FrameSource::File(dir.File(name)));
    }
    return sources;
}

// The sources of a list handed out one at a time, as a walk over folders hands them out.
class ListStream : public FrameSourceStream {
  public:
    explicit ListStream(const std::vector<FrameSource>& sources) : sources_(sources) {}
    bool Next(FrameSource& source) override {
        if (next_ == sources_.size()) return false;
        source = sources_[next_++];
        return true;
    }
    std::size_t Count() const override { return sources_.size(); }

  private:
    const std::vector<FrameSource>& sources_;
    std::size_t next_ = 0;
};

TEST(FramePipeline, DeliversEveryItemInInputOrderOnAnyNumberOfThreads) {
    const test::TempDir dir;
    const std::vector<FrameSource> sources = WriteFrames(dir, 300);
    for (unsigned threads : {1u, 2u, 7u}) {
        for (const bool streamed : {false, true}) {
            SCOPED_TRACE(streamed ? "streamed" : "listed");
            std::vector<std::string> order;
            std::vector<std::size_t> done;
            PipelineOptions options;
            options.threads = threads;
            options.delivered = [&](const FrameItem& item, const std::string& failure,
                                    std::size_t count) {
                done.push_back(count);
                EXPECT_EQ(failure.empty(), item.frame.has_value());
                EXPECT_EQ(item.source->path, sources[count - 1].path);
            };
            const FrameConsumer consume = [&](FrameItem& item) -> std::string {
                order.push_back(item.frame ? item.frame->fileName : "");
                EXPECT_EQ(item.frame.has_value(), item.error.empty());
                return "";
            };
            ListStream stream(sources);
            const PipelineSummary summary = streamed ? RunFramePipeline(stream, options, consume)
                                                     : RunFramePipeline(sources, options, consume);
            ASSERT_EQ(order.size(), sources.size()) << threads;
            for (std::size_t i = 0; i < order.size(); ++i) {
                EXPECT_EQ(order[i], i % 3 == 2 ? "" : std::to_string(i) + ".png") << i;
                EXPECT_EQ(done[i], i + 1);
            }
            EXPECT_EQ(summary.converted, 200u);
            EXPECT_EQ(summary.failed, 100u);
            EXPECT_EQ(summary.notStarted, 0u);
            EXPECT_FALSE(summary.stopped);
        }
    }
}

// The reading threads open files by name in a folder they keep open: whatever the order of
// folders, missing files and folders, and paths that name no file, each item must read or fail
// as ReadFrame reads the whole path.
TEST(FramePipeline, ReadsAndFailsAsReadingTheWholePathDoes) {
    const test::TempDir dir;
    for (const char* folder : {"a", "b"}) std::filesystem::create_directory(dir.File(folder));
    const std::string frame =
        "<Annotation><ImageInformation><FileName>x.png</FileName><Width>8</Width><Height>8"
        "</Height></ImageInformation><User UserID=\"u\"/></Annotation>";
    dir.Write("a/1.xml", frame);
    dir.Write("a/2.xml", "<Annotation>");
    dir.Write("b/3.xml", frame);
    const std::vector<std::string> paths = {
        dir.File("a/1.xml"),   dir.File("a/2.xml"), dir.File("a/missing.xml"),
        dir.File("b/3.xml"),   dir.File("a/1.xml"), dir.File("missing/1.xml"),
        dir.File("a/1.xml/x"), dir.File("a") + "/", dir.File("a"),
        dir.File("b/3.xml"),   "no-such-frame.xml",
    };
    std::vector<std::string> expected;
    std::vector<FrameSource> sources;
    for (const std::string& path : paths) {
        try {
            expected.push_back(ReadFrame(path).fileName);
        } catch (const FrameError& error) {
            expected.push_back(error.detail());
        } catch (const std::exception& error) {
            expected.push_back(error.what());
        }
        sources.push_back(FrameSource::File(path));
    }
    for (const unsigned threads : {1u, 2u}) {
        PipelineOptions options;
        options.threads = threads;
        std::vector<std::string> read;
        RunFramePipeline(sources, options, [&](FrameItem& item) {
            read.push_back(item.frame ? item.frame->fileName : item.error);
            return std::string();
        });
        EXPECT_EQ(read, expected) << threads << " threads";
    }
}

TEST(FramePipeline, ConsumerFailuresCountAndStopRequestsLeaveTheRestUnread) {
    const test::TempDir dir;
    const std::vector<FrameSource> sources = WriteFrames(dir, 600);
    std::atomic<bool> stop{false};
    PipelineOptions options;
    options.threads = 2;
    options.stopRequested = [&stop] { return stop.load(); };
    std::vector<std::string> failures;
    options.delivered = [&](const FrameItem&, const std::string& failure, std::size_t) {
        failures.push_back(failure);
    };
    std::size_t consumed = 0;
    ListStream stream(sources);
    const PipelineSummary summary = RunFramePipeline(stream, options, [&](FrameItem& item) {
        if (++consumed == 10) stop = true;
        if (!item.frame) return std::string();
        return consumed == 1 ? std::string("rejected") : std::string();
    });
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(failures.front(), "rejected");
    EXPECT_GT(summary.notStarted, 0u);
    EXPECT_EQ(summary.converted + summary.failed + summary.notStarted, sources.size());
    EXPECT_EQ(consumed, summary.converted + summary.failed);
}

#ifndef _WIN32
// Folders nested below `root` until their paths are longer than any the system opens, so that
// the deepest cannot be listed, even by a privileged user. Removed again by the destructor.
class TooDeepFolders {
  public:
    explicit TooDeepFolders(const std::string& root) {
        fds_.push_back(open(root.c_str(), O_RDONLY | O_DIRECTORY));
        for (std::size_t length = root.size(); length <= PATH_MAX; length += kName.size() + 1) {
            mkdirat(fds_.back(), kName.c_str(), 0755);
            fds_.push_back(openat(fds_.back(), kName.c_str(), O_RDONLY | O_DIRECTORY));
        }
    }
    ~TooDeepFolders() {
        for (std::size_t i = fds_.size() - 1; i > 0; --i) {
            close(fds_[i]);
            unlinkat(fds_[i - 1], kName.c_str(), AT_REMOVEDIR);
        }
        close(fds_[0]);
    }

  private:
    const std::string kName = std::string(200, 'd');
    std::vector<int> fds_;
};

TEST(StudyRuns, FoldersThatCannotBeListedAreReportedBeforeAnyFileIsRead) {
    const test::TempDir dir;
    const test::TempDir frames;
    WriteFrames(frames, 3);
    std::filesystem::create_directory(dir.File("deep"));
    dir.Write("deep/first.xml", "<Annotation/>");
    const TooDeepFolders deep(dir.File("deep"));
    StudyRun run;
    run.inputs = {dir.File("deep"), frames.path().string()};
    run.threads = 2;
    std::vector<std::string> events;
    run.unlisted = [&](const std::string& message) { events.push_back(message); };
    run.listed = [&](std::size_t files) { events.push_back("listed " + std::to_string(files)); };
    run.delivered = [&](const FrameItem& item, const std::string&, std::size_t) {
        events.push_back(item.source->relativePath().data());
    };
    const StudySummary summary = ExportDataset(run, dir.File("out.json"));
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0], dir.File("deep") + ": cannot list folder: " +
                             std::generic_category().message(ENAMETOOLONG));
    EXPECT_EQ(events[1], "listed 3");  // deep/first.xml is not among them: the input is left out
    EXPECT_EQ(summary.failed, 2u);     // the unreadable frame, and the folder
    EXPECT_EQ(summary.converted, 2u);
    EXPECT_THROW(ListFrameSources({dir.File("deep")}), std::runtime_error);
}
#endif

TEST(StudyRuns, InputsThatCannotBeReadCountAsFailedAndTheIndexIsWritten) {
    const test::TempDir dir;
    WriteFrames(dir, 3);
    StudyRun run;
    run.inputs = {dir.path().string(), dir.File("missing-folder/")};
    run.threads = 2;
    std::vector<std::string> unlisted;
    std::size_t listed = 0;
    run.unlisted = [&](const std::string& message) { unlisted.push_back(message); };
    run.listed = [&](std::size_t files) { listed = files; };
    const StudySummary summary = ExportYolo(run, {dir.File("out"), YoloTask::Detect, {}, false});
    EXPECT_EQ(listed, 4u);  // the three frames, and the missing folder taken as a file
    EXPECT_EQ(summary.converted, 2u);
    EXPECT_EQ(summary.failed, 2u);
    EXPECT_TRUE(summary.writeError.empty());
    EXPECT_TRUE(unlisted.empty());
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.File("out/data.yaml")));
}

TEST(CatalogOptionText, SplitsAndRenamesParseOrNameWhatIsWrong) {
    const std::vector<SplitShare> splits = ParseSplits("train=0.8,val=0.15,test=0.05");
    ASSERT_EQ(splits.size(), 3u);
    EXPECT_EQ(splits[1].name, "val");
    EXPECT_DOUBLE_EQ(splits[1].share, 0.15);
    EXPECT_TRUE(ParseSplits("").empty());
    const struct {
        const char* text;
        const char* message;
    } badSplits[] = {
        {"train=0.8,val=0.1", "the shares add up to 0.900000, not 1"},
        {"train", "\"train\" is not NAME=SHARE with a new name and a share above 0"},
        {"=1", "\"=1\" is not NAME=SHARE with a new name and a share above 0"},
        {"a=0.5,a=0.5", "\"a=0.5\" is not NAME=SHARE with a new name and a share above 0"},
        {"a=-1,b=2", "\"a=-1\" is not NAME=SHARE with a new name and a share above 0"},
        {"a=1x", "\"a=1x\" is not NAME=SHARE with a new name and a share above 0"},
    };
    for (const auto& bad : badSplits) {
        try {
            ParseSplits(bad.text);
            ADD_FAILURE() << bad.text;
        } catch (const std::invalid_argument& error) {
            EXPECT_STREQ(error.what(), bad.message) << bad.text;
        }
    }
    const auto renames = ParseRenames({"polyp=Polyp", "a=", "x=y=z"});
    EXPECT_EQ(renames, (std::vector<std::pair<std::string, std::string>>{
                           {"polyp", "Polyp"}, {"a", ""}, {"x", "y=z"}}));
    EXPECT_THROW(ParseRenames({"=Polyp"}), std::invalid_argument);
    EXPECT_THROW(ParseRenames({"Polyp"}), std::invalid_argument);
}

}  // namespace
}  // namespace annoxml
