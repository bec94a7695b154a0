// Category masks as runs of pixels, so that areas and overlaps of large frames cost what their
// outlines cover rather than their size.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "annoxml/masks.h"

namespace annoxml::detail {

// A run of pixels [begin, end) of row y painted with `label` (a small number from 1).
struct LabeledSpan {
    int y = 0;
    int begin = 0;
    int end = 0;
    int label = 0;
};

// The mask of regions painted in order, later paint over earlier, as `RenderMask` paints them:
// rows from the top, each row's runs from the left, touching runs of one label joined.
// `labels[i]` is the label of `regionSpans[i]`.
std::vector<LabeledSpan> PaintedSpans(const std::vector<std::vector<PixelSpan>>& regionSpans,
                                      const std::vector<int>& labels);

std::uint64_t SpanArea(const std::vector<PixelSpan>& spans);
// The pixels in both, for spans in the order OutlineSpans gives them.
std::uint64_t SpanIntersection(const std::vector<PixelSpan>& a, const std::vector<PixelSpan>& b);

// Calls visit(y, begin, end, labels) for every run of a row over which each mask's label is
// constant and some mask has a label; labels[i] is mask i's label there, 0 where it has none.
template <typename Visit>
void SweepMasks(const std::vector<std::vector<LabeledSpan>>& masks, Visit visit) {
    const std::size_t count = masks.size();
    std::vector<std::size_t> position(count, 0), rowEnd(count), cursor(count);
    std::vector<int> labels(count), points;
    while (true) {
        bool any = false;
        int y = 0;
        for (std::size_t m = 0; m < count; ++m) {
            if (position[m] < masks[m].size() && (!any || masks[m][position[m]].y < y)) {
                y = masks[m][position[m]].y;
                any = true;
            }
        }
        if (!any) return;
        points.clear();
        for (std::size_t m = 0; m < count; ++m) {
            std::size_t end = position[m];
            for (; end < masks[m].size() && masks[m][end].y == y; ++end) {
                points.push_back(masks[m][end].begin);
                points.push_back(masks[m][end].end);
            }
            rowEnd[m] = end;
            cursor[m] = position[m];
        }
        std::sort(points.begin(), points.end());
        points.erase(std::unique(points.begin(), points.end()), points.end());
        for (std::size_t k = 0; k + 1 < points.size(); ++k) {
            const int begin = points[k];
            bool drawn = false;
            for (std::size_t m = 0; m < count; ++m) {
                while (cursor[m] < rowEnd[m] && masks[m][cursor[m]].end <= begin) ++cursor[m];
                const bool inside = cursor[m] < rowEnd[m] && masks[m][cursor[m]].begin <= begin;
                labels[m] = inside ? masks[m][cursor[m]].label : 0;
                drawn = drawn || inside;
            }
            if (drawn) visit(y, begin, points[k + 1], labels.data());
        }
        position = rowEnd;
    }
}

}  // namespace annoxml::detail
