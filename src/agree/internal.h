// What the agreement sources share among themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace annoxml::detail {

// Fleiss' kappa of yes/no ratings by `casesByVotes.size() - 1` raters, given how many cases
// had each number of yes votes.
std::optional<double> FleissKappaOf(const std::vector<std::uint64_t>& casesByVotes);

}  // namespace annoxml::detail
