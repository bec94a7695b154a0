// Kappa statistics and the STAPLE estimate.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "agree/internal.h"
#include "annoxml/agree.h"

namespace annoxml {
namespace {

// (observed - chance) / (1 - chance); complete agreement counts as 1 even when chance is 1.
std::optional<double> KappaOf(double observed, double chance) {
    if (chance >= 1) return observed >= 1 ? std::optional<double>(1.0) : std::nullopt;
    return (observed - chance) / (1 - chance);
}

constexpr int kStapleIterations = 1000;
constexpr double kStapleTolerance = 1e-12;

// The posterior of foreground for a pattern, from log-likelihoods.
double Posterior(double logForeground, double logBackground) {
    if (logForeground == -std::numeric_limits<double>::infinity() &&
        logBackground == -std::numeric_limits<double>::infinity()) {
        return 0.5;
    }
    return 1 / (1 + std::exp(logBackground - logForeground));
}

}  // namespace

std::optional<double> CohenKappa(std::uint64_t both, std::uint64_t aOnly, std::uint64_t bOnly,
                                 std::uint64_t neither) {
    const double n = static_cast<double>(both + aOnly + bOnly + neither);
    if (n == 0 || both + aOnly + bOnly == 0) return std::nullopt;
    const double a = (both + aOnly) / n, b = (both + bOnly) / n;
    return KappaOf((both + neither) / n, a * b + (1 - a) * (1 - b));
}

std::optional<double> FleissKappa(const std::vector<int>& yesVotes, int raters) {
    std::vector<std::uint64_t> casesByVotes(static_cast<std::size_t>(std::max(raters, 0)) + 1);
    for (int votes : yesVotes) {
        if (votes < 0 || votes > raters) throw std::invalid_argument("votes out of range");
        ++casesByVotes[static_cast<std::size_t>(votes)];
    }
    return detail::FleissKappaOf(casesByVotes);
}

namespace detail {

std::optional<double> FleissKappaOf(const std::vector<std::uint64_t>& casesByVotes) {
    if (casesByVotes.size() < 3) return std::nullopt;
    const double raters = static_cast<double>(casesByVotes.size() - 1);
    double cases = 0, yes = 0, agreement = 0;
    for (std::size_t votes = 0; votes < casesByVotes.size(); ++votes) {
        const double n = static_cast<double>(casesByVotes[votes]), v = static_cast<double>(votes);
        cases += n;
        yes += n * v;
        agreement += n * (v * v + (raters - v) * (raters - v) - raters) / (raters * (raters - 1));
    }
    if (cases == 0 || yes == 0) return std::nullopt;
    const double p = yes / (cases * raters);
    return KappaOf(agreement / cases, p * p + (1 - p) * (1 - p));
}

}  // namespace detail

StapleFit FitStaple(const std::map<std::uint64_t, std::uint64_t>& patternCounts, int raters) {
    if (raters < 1 || raters > 64) throw std::invalid_argument("STAPLE takes 1 to 64 raters");
    const std::size_t n = static_cast<std::size_t>(raters);
    StapleFit fit;
    fit.sensitivity.assign(n, 0.99);
    fit.specificity.assign(n, 0.99);
    double pixels = 0, marked = 0;
    for (const auto& [pattern, count] : patternCounts) {
        pixels += static_cast<double>(count);
        for (std::size_t j = 0; j < n; ++j) {
            if (pattern >> j & 1) marked += static_cast<double>(count);
        }
    }
    fit.prior = pixels > 0 ? marked / (pixels * raters) : 0;
    const double logPrior = std::log(fit.prior), logOther = std::log(1 - fit.prior);
    for (int iteration = 0; iteration < kStapleIterations; ++iteration) {
        // Expectation: the posterior of each pattern under the current estimates.
        for (const auto& [pattern, count] : patternCounts) {
            double logForeground = logPrior, logBackground = logOther;
            for (std::size_t j = 0; j < n; ++j) {
                const bool mark = pattern >> j & 1;
                logForeground += std::log(mark ? fit.sensitivity[j] : 1 - fit.sensitivity[j]);
                logBackground += std::log(mark ? 1 - fit.specificity[j] : fit.specificity[j]);
            }
            fit.posterior[pattern] = Posterior(logForeground, logBackground);
        }
        // Maximisation: each rater's sensitivity and specificity given the posteriors.
        double change = 0;
        for (std::size_t j = 0; j < n; ++j) {
            double foreground = 0, hits = 0, background = 0, rejections = 0;
            for (const auto& [pattern, count] : patternCounts) {
                const double w = fit.posterior[pattern], c = static_cast<double>(count);
                const bool mark = pattern >> j & 1;
                foreground += c * w;
                background += c * (1 - w);
                if (mark) hits += c * w;
                if (!mark) rejections += c * (1 - w);
            }
            const double sensitivity = foreground > 0 ? hits / foreground : fit.sensitivity[j];
            const double specificity =
                background > 0 ? rejections / background : fit.specificity[j];
            change = std::max({change, std::abs(sensitivity - fit.sensitivity[j]),
                               std::abs(specificity - fit.specificity[j])});
            fit.sensitivity[j] = sensitivity;
            fit.specificity[j] = specificity;
        }
        if (change < kStapleTolerance) break;
    }
    return fit;
}

ConsensusMethod ParseConsensusMethod(const std::string& name) {
    if (name == "majority") return ConsensusMethod::Majority;
    if (name == "staple") return ConsensusMethod::Staple;
    throw std::invalid_argument("unknown consensus method \"" + name + "\" (majority or staple)");
}

}  // namespace annoxml
