#include <stdexcept>

#include "annoxml/dataset.h"

namespace annoxml {
namespace {

// 64-bit FNV-1a: the same value on every machine and in every run.
std::uint64_t Fnv1a(const std::string& text) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const unsigned char c : text) {
        hash = (hash ^ c) * 0x100000001b3ull;
    }
    return hash;
}

// The splitmix64 finaliser spreads FNV's weak low bits over the whole word.
std::uint64_t Mix(std::uint64_t value) {
    value += 0x9e3779b97f4a7c15ull;
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ull;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebull;
    return value ^ (value >> 31);
}

}  // namespace

const std::string& AssignSplit(const std::string& groupKey, const std::vector<SplitShare>& splits,
                               std::uint64_t seed) {
    if (splits.empty()) {
        throw std::invalid_argument("no splits to assign to");
    }
    double total = 0;
    for (const SplitShare& split : splits) {
        total += split.share;
    }
    // A uniform number in [0, 1) from the top 53 bits of the hash.
    const double position =
        static_cast<double>(Mix(Fnv1a(groupKey) ^ Mix(seed)) >> 11) * 0x1.0p-53 * total;
    double end = 0;
    for (const SplitShare& split : splits) {
        end += split.share;
        if (position < end) {
            return split.name;
        }
    }
    return splits.back().name;
}

}  // namespace annoxml
