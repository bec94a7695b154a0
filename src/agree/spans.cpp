#include "agree/spans.h"

#include <algorithm>

namespace annoxml::detail {
namespace {

// Paints `span` over the runs of one row, cutting away what it covers; `kept` is scratch space.
void PaintOver(std::vector<LabeledSpan>& row, const LabeledSpan& span,
               std::vector<LabeledSpan>& kept) {
    const bool overlaps = std::any_of(row.begin(), row.end(), [&span](const LabeledSpan& old) {
        return old.end > span.begin && old.begin < span.end;
    });
    if (!overlaps) {
        row.push_back(span);  // the common case: regions apart on this row
        return;
    }
    kept.clear();
    for (const LabeledSpan& old : row) {
        if (old.end <= span.begin || old.begin >= span.end) {
            kept.push_back(old);
            continue;
        }
        if (old.begin < span.begin) kept.push_back({old.y, old.begin, span.begin, old.label});
        if (old.end > span.end) kept.push_back({old.y, span.end, old.end, old.label});
    }
    kept.push_back(span);
    row.swap(kept);
}

void AppendRow(std::vector<LabeledSpan>& row, std::vector<LabeledSpan>& out) {
    std::sort(row.begin(), row.end(),
              [](const LabeledSpan& a, const LabeledSpan& b) { return a.begin < b.begin; });
    for (const LabeledSpan& span : row) {
        if (!out.empty() && out.back().y == span.y && out.back().end == span.begin &&
            out.back().label == span.label) {
            out.back().end = span.end;
        } else {
            out.push_back(span);
        }
    }
    row.clear();
}

}  // namespace

std::vector<LabeledSpan> PaintedSpans(const std::vector<std::vector<PixelSpan>>& regionSpans,
                                      const std::vector<int>& labels) {
    // Every span by row, in paint order within a row: a counting sort over the rows, as each
    // region's spans come row by row already.
    int top = 0, bottom = -1;
    std::size_t total = 0;
    for (const std::vector<PixelSpan>& spans : regionSpans) {
        if (spans.empty()) continue;
        top = total == 0 ? spans.front().y : std::min(top, spans.front().y);
        bottom = std::max(bottom, spans.back().y);
        total += spans.size();
    }
    std::vector<std::size_t> rowStart(static_cast<std::size_t>(bottom - top + 2), 0);
    for (const std::vector<PixelSpan>& spans : regionSpans) {
        for (const PixelSpan& span : spans) ++rowStart[static_cast<std::size_t>(span.y - top) + 1];
    }
    for (std::size_t r = 1; r < rowStart.size(); ++r) rowStart[r] += rowStart[r - 1];
    std::vector<LabeledSpan> all(total);
    for (std::size_t i = 0; i < regionSpans.size(); ++i) {
        for (const PixelSpan& span : regionSpans[i]) {
            all[rowStart[static_cast<std::size_t>(span.y - top)]++] = {span.y, span.begin, span.end,
                                                                       labels[i]};
        }
    }
    std::vector<LabeledSpan> painted, row, scratch;
    painted.reserve(all.size());
    for (const LabeledSpan& next : all) {
        if (!row.empty() && row.front().y != next.y) AppendRow(row, painted);
        PaintOver(row, next, scratch);
    }
    AppendRow(row, painted);
    return painted;
}

std::uint64_t SpanArea(const std::vector<PixelSpan>& spans) {
    std::uint64_t area = 0;
    for (const PixelSpan& span : spans) area += static_cast<std::uint64_t>(span.end - span.begin);
    return area;
}

std::uint64_t SpanIntersection(const std::vector<PixelSpan>& a, const std::vector<PixelSpan>& b) {
    std::uint64_t common = 0;
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].y != b[j].y) {
            (a[i].y < b[j].y ? i : j) += 1;
            continue;
        }
        const int overlap = std::min(a[i].end, b[j].end) - std::max(a[i].begin, b[j].begin);
        if (overlap > 0) common += static_cast<std::uint64_t>(overlap);
        (a[i].end < b[j].end ? i : j) += 1;
    }
    return common;
}

}  // namespace annoxml::detail
