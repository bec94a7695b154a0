// Helpers for tests that carry their XML inline.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "annoxml/reader.h"

namespace annoxml::test {

inline pugi::xml_document ParseXml(const std::string& xml) {
    pugi::xml_document doc;
    const pugi::xml_parse_result result = doc.load_string(xml.c_str());
    EXPECT_TRUE(result) << result.description() << " in " << xml;
    return doc;
}

// A folder of its own under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        static std::mt19937_64 random(std::random_device{}());
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        do {
            path_ = base / ("annoxml-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(path_));
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Paths are UTF-8 text, as the library takes them (std::filesystem::path would read a
    // std::string in the Windows code page).
    std::string File(const std::string& name) const {
        return (path_ / std::filesystem::u8path(name)).string();
    }
    std::string Write(const std::string& name, const std::string& content) const {
        const std::string file = File(name);
        std::ofstream(std::filesystem::u8path(file), std::ios::binary) << content;
        return file;
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

#ifdef ANNOXML_TEST_DATA
// Every XML file below the project's tests/ and examples/ folders.
inline std::vector<std::string> ProjectXmlFiles() {
    const std::filesystem::path root =
        std::filesystem::path(ANNOXML_TEST_DATA).parent_path().parent_path();
    std::vector<std::string> files;
    for (const char* folder : {"tests", "examples"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
            if (entry.path().extension() == ".xml") files.push_back(entry.path().string());
        }
    }
    return files;
}
#endif

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Everything that `run` writes to `stream` (std::cout or std::cerr).
template <typename Run>
std::string Capture(std::ostream& stream, Run run) {
    std::ostringstream captured;
    std::streambuf* const original = stream.rdbuf(captured.rdbuf());
    try {
        run();
    } catch (...) {
        stream.rdbuf(original);
        throw;
    }
    stream.rdbuf(original);
    return captured.str();
}

}  // namespace annoxml::test
