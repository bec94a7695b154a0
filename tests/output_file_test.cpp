// Where output files go: regular files replaced atomically, links followed, devices, FIFOs,
// sockets and open descriptors written directly.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "test_xml.h"
#include "util/atomic_file.h"

using annoxml::detail::OutputFile;
using annoxml::detail::WriteFileAtomically;
using annoxml::test::ReadFile;
using annoxml::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::string WriteError(const std::string& path, const std::string& content) {
    try {
        WriteFileAtomically(path, content);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

// Everything in the folder, so that a left-over temporary file shows.
std::vector<std::string> Entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status.st_mode;
}

// Reads everything from `fd` on a thread of its own until the writer closes.
class Drain {
  public:
    explicit Drain(int fd)
        : thread_([this, fd] {
              char chunk[4096];
              ssize_t n;
              while ((n = read(fd, chunk, sizeof chunk)) > 0) text_.append(chunk, n);
              close(fd);
          }) {}
    std::string Finish() {
        thread_.join();
        return text_;
    }

  private:
    std::string text_;
    std::thread thread_;
};

TEST(OutputFile, ReplacesRegularFilesKeepingTheirPermissionBits) {
    for (const mode_t mode : {0600, 0640, 0644, 0755, 0444}) {
        SCOPED_TRACE(std::to_string(mode));
        TempDir dir;
        const std::string path = dir.Write("out.json", "old");
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        WriteFileAtomically(path, "new");
        EXPECT_EQ(ReadFile(path), "new");
        EXPECT_EQ(ModeOf(path) & 07777, mode);
        EXPECT_TRUE(S_ISREG(ModeOf(path)));
        EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"out.json"});
    }
}

TEST(OutputFile, NewFilesFollowTheUmask) {
    for (const mode_t mask : {022, 077, 002}) {
        SCOPED_TRACE(std::to_string(mask));
        TempDir dir;
        const mode_t previous = umask(mask);
        WriteFileAtomically(dir.File("out.json"), "{}");
        umask(previous);
        EXPECT_EQ(ModeOf(dir.File("out.json")) & 07777, 0666 & ~mask);
    }
}

TEST(OutputFile, FollowsSymbolicLinksAndKeepsThem) {
    const struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> links;  // link, target
        const char* written;                                     // the file that gets the text
    } cases[] = {
        {"link to a file", {{"link.json", "real.json"}}, "real.json"},
        {"relative link into another folder", {{"a/link.json", "../b/real.json"}}, "b/real.json"},
        {"chain of links", {{"one.json", "two.json"}, {"two.json", "b/real.json"}}, "b/real.json"},
        {"dangling link", {{"link.json", "b/new.json"}}, "b/new.json"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::create_directories(dir.path() / "a");
        fs::create_directories(dir.path() / "b");
        dir.Write("real.json", "old");
        dir.Write("b/real.json", "old");
        for (const auto& [link, target] : c.links) {
            fs::create_symlink(target, dir.path() / link);
        }
        WriteFileAtomically(dir.File(c.links.front().first), "new");
        EXPECT_EQ(ReadFile(dir.File(c.written)), "new");
        for (const auto& [link, target] : c.links) {
            EXPECT_TRUE(fs::is_symlink(dir.path() / link)) << link;
            EXPECT_EQ(fs::read_symlink(dir.path() / link), target);
        }
    }
}

TEST(OutputFile, ReportsWhatCannotBeWritten) {
    TempDir dir;
    fs::create_symlink("loop.json", dir.path() / "loop.json");
    fs::create_directories(dir.path() / "folder");
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {
        {dir.File("loop.json"), "Too many levels of symbolic links"},
        {dir.File("folder"), "Is a directory"},
        {dir.File("missing/out.json"), "No such file or directory"},
        {"/dev/fd/987", "Bad file descriptor"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(WriteError(c.path, "{}"), "Cannot write " + c.path + ": " + c.reason);
    }
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"folder", "loop.json"}));
}

TEST(OutputFile, NamesNearTheLengthLimitWork) {
    TempDir dir;
    for (const std::size_t length : {std::size_t{NAME_MAX}, std::size_t{NAME_MAX - 5}}) {
        const std::string name(length - 5, 'n');
        const std::string path = dir.File(name + ".json");
        WriteFileAtomically(path, "{}");
        EXPECT_EQ(ReadFile(path), "{}") << length;
        fs::remove(path);
    }
    EXPECT_TRUE(Entries(dir.path()).empty());
}

TEST(OutputFile, UncommittedLeavesNothingBehind) {
    TempDir dir;
    const std::string path = dir.Write("out.json", "old");
    {
        OutputFile file(path);
        file.Write(std::string(200000, 'x'));  // more than one buffer reaches the disk
    }
    EXPECT_EQ(ReadFile(path), "old");
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"out.json"});
}

TEST(OutputFile, WritesFifosDirectly) {
    TempDir dir;
    const std::string path = dir.File("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    // Opened on the reading thread: a FIFO without a writer would read as empty at once.
    std::string received;
    std::thread reader([&] { received = Drain(open(path.c_str(), O_RDONLY)).Finish(); });
    const std::string content(300000, 'f');  // more than a pipe holds
    WriteFileAtomically(path, content);
    reader.join();
    EXPECT_EQ(received, content);
    EXPECT_TRUE(S_ISFIFO(ModeOf(path)));
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"fifo"});
}

TEST(OutputFile, WritesSocketsDirectly) {
    TempDir dir;
    const std::string path = dir.File("socket");
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    std::string received;
    std::thread server([&] {
        const int connection = accept(listener, nullptr, nullptr);
        Drain(connection).Finish().swap(received);
    });
    WriteFileAtomically(path, "{\"socket\": 1}");
    server.join();
    close(listener);
    EXPECT_EQ(received, "{\"socket\": 1}");
    EXPECT_TRUE(S_ISSOCK(ModeOf(path)));
}

TEST(OutputFile, WritesOpenDescriptorsDirectly) {
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        SCOPED_TRACE(prefix);
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        Drain drain(ends[0]);
        WriteFileAtomically(prefix + std::to_string(ends[1]), "through the pipe");
        EXPECT_NE(fcntl(ends[1], F_GETFD), -1) << "the caller's descriptor stays open";
        close(ends[1]);
        EXPECT_EQ(drain.Finish(), "through the pipe");
    }
}

// Device nodes made in a scratch folder, never the system's own.
TEST(OutputFile, WritesCharacterDevicesDirectly) {
    if (geteuid() != 0) GTEST_SKIP() << "making device nodes needs root";
    TempDir dir;
    const std::string null = dir.File("null");
    const std::string full = dir.File("full");
    if (mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
        mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        GTEST_SKIP() << "this file system refuses device nodes";
    }
    WriteFileAtomically(null, "{}");
    EXPECT_EQ(WriteError(full, "{}"), "Cannot write " + full + ": No space left on device");
    for (const std::string& node : {null, full}) {
        EXPECT_TRUE(S_ISCHR(ModeOf(node))) << node;
    }
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"full", "null"}));
}

}  // namespace
