// The cost below which no conversion can go: parse the XML and write as many bytes as the
// conversion writes, atomically (temporary file, then rename), and nothing else.
//   annoxml_floor load XML                        parse only
//   annoxml_floor file XML OUT BYTES              parse, then write BYTES bytes to OUT
//   annoxml_floor batch MANIFEST THREADS          the same for every "XML<TAB>OUT<TAB>BYTES" line,
//                                                 on THREADS threads
//   annoxml_floor gather MANIFEST THREADS OUT BYTES [OUT BYTES...]
//                                                 parse every XML of the manifest on THREADS
//                                                 threads, then write BYTES bytes to each OUT
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <pugixml.hpp>

namespace {

struct Job {
    std::string input;
    std::string output;
    std::size_t bytes = 0;
};

bool Load(const std::string& path) {
    pugi::xml_document doc;
    return static_cast<bool>(doc.load_file(path.c_str(), pugi::parse_default, pugi::encoding_auto));
}

bool WriteBytes(const std::string& path, std::size_t bytes) {
    const std::string temporary =
        path + ".tmp-" + std::to_string(getpid()) + "-" +
        std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id()));
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    static const std::string chunk(1 << 16, ' ');
    while (bytes > 0) {
        const std::size_t n = std::min(bytes, chunk.size());
        if (write(fd, chunk.data(), n) != static_cast<ssize_t>(n)) {
            close(fd);
            return false;
        }
        bytes -= n;
    }
    return close(fd) == 0 && std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool Run(const Job& job) {
    if (!Load(job.input)) return false;
    const std::filesystem::path parent = std::filesystem::path(job.output).parent_path();
    std::error_code ignored;
    if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
    return WriteBytes(job.output, job.bytes);
}

std::vector<Job> ReadManifest(const std::string& path) {
    std::vector<Job> jobs;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        Job job;
        std::getline(fields, job.input, '\t');
        std::getline(fields, job.output, '\t');
        fields >> job.bytes;
        jobs.push_back(job);
    }
    return jobs;
}

template <typename Work>
int Batch(const std::vector<Job>& jobs, unsigned threads, Work work) {
    std::atomic<std::size_t> next{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (std::size_t i; (i = next++) < jobs.size();) {
                if (!work(jobs[i])) ++failed;
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Memory freed by one document is kept for the next instead of being returned to the system
    // and faulted in again, which would cost more than the parsing of a small file.
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "load") return Load(args[1]) ? 0 : 1;
    if (args.size() == 4 && args[0] == "file") {
        return Run({args[1], args[2], std::stoul(args[3])}) ? 0 : 1;
    }
    if (args.size() == 3 && args[0] == "batch") {
        return Batch(ReadManifest(args[1]), static_cast<unsigned>(std::stoul(args[2])), Run);
    }
    if (args.size() >= 5 && args.size() % 2 == 1 && args[0] == "gather") {
        const auto load = [](const Job& job) { return Load(job.input); };
        const int loaded =
            Batch(ReadManifest(args[1]), static_cast<unsigned>(std::stoul(args[2])), load);
        bool written = true;
        for (std::size_t i = 3; i < args.size(); i += 2) {
            written = WriteBytes(args[i], std::stoul(args[i + 1])) && written;
        }
        return loaded == 0 && written ? 0 : 1;
    }
    std::cerr << "usage: annoxml_floor load XML | file XML OUT BYTES | batch MANIFEST THREADS | "
                 "gather MANIFEST THREADS OUT BYTES [OUT BYTES...]\n";
    return 2;
}
