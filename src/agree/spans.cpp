#include "agree/spans.h"

#include <algorithm>

namespace annoxml::detail {
namespace {

struct OrderedSpan {
    LabeledSpan span;
    std::size_t order = 0;  // the region's place in paint order
};

// Paints `span` over the runs of one row, cutting away what it covers.
void PaintOver(std::vector<LabeledSpan>& row, const LabeledSpan& span) {
    std::vector<LabeledSpan> kept;
    kept.reserve(row.size() + 2);
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
    std::vector<OrderedSpan> all;
    for (std::size_t i = 0; i < regionSpans.size(); ++i) {
        for (const PixelSpan& span : regionSpans[i]) {
            all.push_back({{span.y, span.begin, span.end, labels[i]}, i});
        }
    }
    std::sort(all.begin(), all.end(), [](const OrderedSpan& a, const OrderedSpan& b) {
        return a.span.y != b.span.y ? a.span.y < b.span.y : a.order < b.order;
    });
    std::vector<LabeledSpan> painted, row;
    painted.reserve(all.size());
    for (const OrderedSpan& next : all) {
        if (!row.empty() && row.front().y != next.span.y) AppendRow(row, painted);
        PaintOver(row, next.span);
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
