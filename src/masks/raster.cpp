// Scan-line fill of outlines with the pixel-centre rule, and mask images painted from frames.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "annoxml/masks.h"

namespace annoxml {
namespace {

// The smallest i in [0, limit] whose centre i + 0.5 is at or beyond v; limit when there is none.
int FirstCentreAtOrBeyond(double v, int limit) {
    if (v <= 0.5) {
        return 0;
    }
    if (v > limit - 0.5) {
        return limit;
    }
    int i = static_cast<int>(std::ceil(v - 0.5));
    while (i + 0.5 < v) ++i;
    while (i > 0 && (i - 1) + 0.5 >= v) --i;
    return i;
}

struct Edge {
    Point from;
    Point to;
    int firstRow = 0;  // rows [firstRow, endRow) have their centre line crossing this edge
    int endRow = 0;
};

// Where the horizontal line through y crosses the edge; the same expression as the
// point-in-polygon test that the fill must agree with, written so that no finite input overflows.
double CrossingX(const Edge& edge, double y) {
    const double t = (y - edge.from.y) / (edge.to.y - edge.from.y);
    return edge.from.x * (1 - t) + edge.to.x * t;
}

bool IsFinite(const std::vector<Point>& outline) {
    return std::all_of(outline.begin(), outline.end(),
                       [](const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); });
}

// Edges that cross at least one row's centre line inside the image, by first row. An edge counts
// for centre line y when exactly one of its ends lies below y (greater y).
std::vector<Edge> CrossingEdges(const std::vector<Point>& outline, int height) {
    std::vector<Edge> edges;
    edges.reserve(outline.size());
    for (std::size_t i = 0; i < outline.size(); ++i) {
        Edge edge{outline[i], outline[(i + 1) % outline.size()]};
        const auto [low, high] = std::minmax(edge.from.y, edge.to.y);
        edge.firstRow = FirstCentreAtOrBeyond(low, height);
        edge.endRow = FirstCentreAtOrBeyond(high, height);
        if (edge.firstRow < edge.endRow) {
            edges.push_back(edge);
        }
    }
    std::sort(edges.begin(), edges.end(),
              [](const Edge& a, const Edge& b) { return a.firstRow < b.firstRow; });
    return edges;
}

// Calls visit(PixelSpan) for every span, with an active edge list: each row looks only at the
// edges that cross it.
template <typename Visit>
void ForEachSpan(const std::vector<Point>& outline, int width, int height, Visit visit) {
    if (outline.size() < 3 || width <= 0 || height <= 0 || !IsFinite(outline)) {
        return;
    }
    const std::vector<Edge> edges = CrossingEdges(outline, height);
    std::vector<const Edge*> active;
    std::vector<double> crossings;
    std::size_t next = 0;
    for (int y = edges.empty() ? height : edges.front().firstRow; y < height; ++y) {
        while (next < edges.size() && edges[next].firstRow <= y) {
            active.push_back(&edges[next++]);
        }
        active.erase(std::remove_if(active.begin(), active.end(),
                                    [y](const Edge* edge) { return edge->endRow <= y; }),
                     active.end());
        if (active.empty()) {
            if (next == edges.size()) break;
            y = edges[next].firstRow - 1;
            continue;
        }
        crossings.clear();
        for (const Edge* edge : active) {
            crossings.push_back(CrossingX(*edge, y + 0.5));
        }
        std::sort(crossings.begin(), crossings.end());
        // A centre is inside when an odd number of crossings lie at or before it.
        for (std::size_t i = 0; i + 1 < crossings.size(); i += 2) {
            const int begin = FirstCentreAtOrBeyond(crossings[i], width);
            const int end = FirstCentreAtOrBeyond(crossings[i + 1], width);
            if (begin < end) {
                visit(PixelSpan{y, begin, end});
            }
        }
    }
}

}  // namespace

std::vector<PixelSpan> OutlineSpans(const std::vector<Point>& outline, int width, int height) {
    std::vector<PixelSpan> spans;
    ForEachSpan(outline, width, height, [&spans](const PixelSpan& span) { spans.push_back(span); });
    return spans;
}

MaskImage::MaskImage(int width, int height, int bitDepth)
    : width_(width), height_(height), bitDepth_(bitDepth) {
    if (width <= 0 || height <= 0) {
        throw std::invalid_argument("mask size must be positive, not " + std::to_string(width) +
                                    "x" + std::to_string(height));
    }
    if (bitDepth != 8 && bitDepth != 16) {
        throw std::invalid_argument("mask depth must be 8 or 16 bits");
    }
    // A mistyped Width or Height must fail its file, not exhaust the machine's memory.
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxPixels) {
        throw std::invalid_argument("a " + std::to_string(width) + "x" + std::to_string(height) +
                                    " mask is larger than the " + std::to_string(kMaxPixels) +
                                    " pixels a mask may have");
    }
    pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
}

void MaskImage::Fill(const PixelSpan& span, std::uint16_t value) {
    std::uint16_t* row = pixels_.data() + Offset(0, span.y);
    std::fill(row + span.begin, row + span.end, value);
}

void MaskImage::Paint(const std::vector<Point>& outline, std::uint16_t value) {
    ForEachSpan(outline, width_, height_,
                [this, value](const PixelSpan& span) { Fill(span, value); });
}

}  // namespace annoxml
