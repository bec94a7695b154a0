// COCO run-length encoding. The polygon rule, the string form and the box follow the reference
// evaluation's mask code step for step, integer truncations included, so that masks and IoUs
// equal its own.
#include "annoxml/rle.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "platform/platform.h"

namespace annoxml {
namespace {

void CheckSameSize(const Rle& a, const Rle& b) {
    if (a.height != b.height || a.width != b.width) {
        throw std::invalid_argument("masks of different sizes: " + std::to_string(a.width) + "x" +
                                    std::to_string(a.height) + " and " + std::to_string(b.width) +
                                    "x" + std::to_string(b.height));
    }
}

// Walks two masks' runs together; visit(length, inA, inB) for each stretch where neither changes.
template <typename Visit>
void WalkTogether(const Rle& a, const Rle& b, Visit visit) {
    std::size_t ia = 0;
    std::size_t ib = 0;
    std::uint64_t leftA = a.counts.empty() ? 0 : a.counts[0];
    std::uint64_t leftB = b.counts.empty() ? 0 : b.counts[0];
    const auto advance = [](const Rle& rle, std::size_t& index, std::uint64_t& left) {
        while (left == 0 && index + 1 < rle.counts.size()) left = rle.counts[++index];
    };
    advance(a, ia, leftA);
    advance(b, ib, leftB);
    while (leftA > 0 && leftB > 0) {
        const std::uint64_t step = std::min(leftA, leftB);
        visit(step, ia % 2 == 1, ib % 2 == 1);
        leftA -= step;
        leftB -= step;
        advance(a, ia, leftA);
        advance(b, ib, leftB);
    }
}

// A polygon vertex on the five-times finer grid, truncated as C truncates.
int Scaled(double v) {
    if (!std::isfinite(v) || std::fabs(v) > 1e8) {
        throw std::invalid_argument("polygon coordinate out of range");
    }
    return static_cast<int>(5 * v + .5);
}

// The crossings of pixel-centre columns by a steep edge whose fine column at step t (0..dy) is
// column(t), monotone in t. The step from t - 1 to t that passes centre column c gives the
// crossing (c, ys + t - 1), in whichever direction the edge is traced. The line is
// xs + s * t. Returns false when a step moves the column by more than one at a centre: the
// caller then drops what was added and traces every step.
template <typename Column, typename AddCrossing>
bool SteepCrossings(const Column& column, int xs, double s, int dy, int ys, std::int64_t width,
                    const AddCrossing& addCrossing) {
    const int first = column(0), last = column(dy);
    if (first == last) return true;
    const bool rising = last > first;
    const int low = std::min(first, last), high = std::max(first, last);
    // Centre columns are 5k + 2 for pixel columns k in [0, width - 1]; crossings lie in
    // [low, high - 1].
    int c = std::max(low, 2);
    c += ((2 - c) % 5 + 5) % 5;
    const std::int64_t cEnd = std::min<std::int64_t>(high - 1, 5 * (width - 1) + 2);
    for (; c <= cEnd; c += 5) {
        const auto passed = [&](int t) { return rising ? column(t) > c : column(t) <= c; };
        // Where the line reaches the column's edge, then corrected step by step.
        double estimate = (c + .5 - xs) / s;
        estimate = std::min(std::max(estimate, 1.), static_cast<double>(dy));
        int t = static_cast<int>(estimate);
        while (t > 1 && passed(t - 1)) --t;
        while (t < dy && !passed(t)) ++t;
        const int before = column(t - 1), after = column(t);
        if (before != (rising ? c : c + 1) || after != (rising ? c + 1 : c)) return false;
        addCrossing(c, ys + t - 1);
    }
    return true;
}

// Sorts a polygon's crossings (column * height + row): bucketed by column first, as a polygon
// crosses each column only a few times, then put in order within each bucket.
void SortByColumn(std::vector<std::uint32_t>& a, std::uint32_t height) {
    if (a.size() < 32 || height == 0) {
        std::sort(a.begin(), a.end());
        return;
    }
    const auto [low, high] = std::minmax_element(a.begin(), a.end());
    const std::uint32_t first = *low / height, buckets = *high / height - first + 1;
    if (buckets > 4 * a.size()) {
        std::sort(a.begin(), a.end());
        return;
    }
    using Counts = std::vector<std::uint32_t>;
    Counts& start = platform::PerThread<Counts>([] { return Counts(); });
    Counts& sorted = platform::PerThread<Counts>([] { return Counts(); });
    start.assign(buckets + 1, 0);
    for (const std::uint32_t value : a) ++start[value / height - first + 1];
    for (std::size_t b = 1; b <= buckets; ++b) start[b] += start[b - 1];
    sorted.resize(a.size());
    for (const std::uint32_t value : a) sorted[start[value / height - first]++] = value;
    // Insertion sort: no value moves out of its bucket, so this costs the buckets' sizes.
    for (std::size_t i = 1; i < sorted.size(); ++i) {
        const std::uint32_t value = sorted[i];
        std::size_t j = i;
        for (; j > 0 && sorted[j - 1] > value; --j) sorted[j] = sorted[j - 1];
        sorted[j] = value;
    }
    std::copy(sorted.begin(), sorted.end(), a.begin());
}

}  // namespace

std::string RleToString(const Rle& rle) {
    // Written into a reused buffer, at most seven characters a count, then copied out once.
    std::vector<char>& buffer =
        platform::PerThread<std::vector<char>>([] { return std::vector<char>(); });
    buffer.resize(rle.counts.size() * 7);
    char* out = buffer.data();
    for (std::size_t i = 0; i < rle.counts.size(); ++i) {
        std::int64_t x = rle.counts[i];
        if (i > 2) x -= rle.counts[i - 2];
        bool more = true;
        while (more) {
            char c = static_cast<char>(x & 0x1f);
            x >>= 5;  // arithmetic: negative differences stay negative
            more = (c & 0x10) ? x != -1 : x != 0;
            if (more) c |= 0x20;
            *out++ = static_cast<char>(c + 48);
        }
    }
    return std::string(buffer.data(), out);
}

Rle RleFromString(std::string_view counts, int height, int width) {
    Rle rle{height, width, {}};
    // Each count ends with the one character lacking the continuation bit.
    rle.counts.reserve(static_cast<std::size_t>(std::count_if(
        counts.begin(), counts.end(), [](char c) { return ((c - 48) & 0x20) == 0; })));
    std::size_t p = 0;
    while (p < counts.size()) {
        std::int64_t x = 0;
        int k = 0;
        bool more = true;
        while (more) {
            if (p >= counts.size()) throw std::invalid_argument("RLE counts cut short");
            const int c = static_cast<unsigned char>(counts[p]) - 48;
            if (c < 0 || c > 63) {
                throw std::invalid_argument("RLE counts: unexpected character at " +
                                            std::to_string(p));
            }
            if (k > 11) throw std::invalid_argument("RLE counts: a count is too long");
            x |= static_cast<std::int64_t>(c & 0x1f) << (5 * k);
            more = (c & 0x20) != 0;
            ++p;
            ++k;
            if (!more && (c & 0x10))
                x |= static_cast<std::int64_t>(-1) * (std::int64_t{1} << (5 * k));
        }
        const std::size_t m = rle.counts.size();
        if (m > 2) x += rle.counts[m - 2];
        rle.counts.push_back(static_cast<std::uint32_t>(x));
    }
    return rle;
}

std::uint64_t RleArea(const Rle& rle) {
    std::uint64_t area = 0;
    for (std::size_t j = 1; j < rle.counts.size(); j += 2) area += rle.counts[j];
    return area;
}

Box RleBox(const Rle& rle) {
    const std::size_t m = rle.counts.size() / 2 * 2;
    if (m == 0 || rle.height <= 0) return {};
    const std::uint64_t h = static_cast<std::uint64_t>(rle.height);
    std::uint64_t xs = static_cast<std::uint64_t>(rle.width), ys = h, xe = 0, ye = 0, xp = 0,
                  cc = 0;
    for (std::size_t j = 0; j < m; ++j) {
        cc += rle.counts[j];
        const std::uint64_t t = cc - j % 2;
        const std::uint64_t y = t % h;
        const std::uint64_t x = (t - y) / h;
        if (j % 2 == 0) {
            xp = x;
        } else if (xp < x) {
            ys = 0;
            ye = h - 1;
        }
        xs = std::min(xs, x);
        xe = std::max(xe, x);
        ys = std::min(ys, y);
        ye = std::max(ye, y);
    }
    return {static_cast<double>(xs), static_cast<double>(ys), static_cast<double>(xe - xs + 1),
            static_cast<double>(ye - ys + 1)};
}

Rle RleFromPolygon(const std::vector<double>& xy, int height, int width) {
    const std::size_t k = xy.size() / 2;
    Rle rle{height, width, {}};
    const std::int64_t h = height;
    const std::int64_t w = width;
    if (k == 0) {
        rle.counts.push_back(static_cast<std::uint32_t>(h * w));
        return rle;
    }
    std::vector<int> x(k + 1), y(k + 1);
    for (std::size_t j = 0; j < k; ++j) {
        x[j] = Scaled(xy[2 * j]);
        y[j] = Scaled(xy[2 * j + 1]);
    }
    x[k] = x[0];
    y[k] = y[0];
    // The boundary traced densely on the fine grid, one point per step along its longer axis.
    // Where it crosses a pixel column's centre, the crossing goes back to the pixel grid: the
    // first row whose pixel lies below it. Points are visited as they are traced; only every
    // fifth fine column is a pixel centre, so the others are passed over before any division.
    // Sized for about one crossing per centre column each edge passes; grown if need be.
    std::size_t centresPassed = 0;
    for (std::size_t j = 0; j < k; ++j) {
        centresPassed += static_cast<std::size_t>(std::abs(std::int64_t{x[j + 1]} - x[j])) / 5 + 1;
    }
    std::vector<std::uint32_t> a(centresPassed + 1);
    std::size_t used = 0;  // crossings held in a
    // A crossing of the fine column `column`, the boundary's lower fine row there being `v`.
    // The pixel column is x = (column + .5) / 5 - .5 and the row ceil((v + .5) / 5 - .5),
    // clamped to [0, h]: computed here in integers, which give the same values, since x is an
    // integer exactly at the centre columns and the row's argument is otherwise at least a
    // fifth away from an integer.
    const auto addCrossing = [&](int column, int v) {
        if (column < 2 || (column - 2) % 5 != 0) return;
        const std::int64_t pixel = (column - 2) / 5;
        if (pixel > w - 1) return;
        const std::int64_t n = std::int64_t{v} - 2;
        const std::int64_t row =
            std::min<std::int64_t>(std::max<std::int64_t>(n >= 0 ? (n + 4) / 5 : n / 5, 0), h);
        if (used == a.size()) a.resize(2 * a.size());
        a[used++] = static_cast<std::uint32_t>(static_cast<int>(pixel) * static_cast<int>(h) +
                                               static_cast<int>(row));
    };
    const auto isCentre = [](int column) { return ((column - 2) % 5 + 5) % 5 == 0; };
    bool first = true;
    int previousU = 0, previousV = 0;
    const auto visit = [&](int u, int v) {
        if (!first && u != previousU) {
            const int column = u < previousU ? u : u - 1;
            if (isCentre(column)) addCrossing(column, v < previousV ? v : previousV);
        }
        first = false;
        previousU = u;
        previousV = v;
    };
    for (std::size_t j = 0; j < k; ++j) {
        int xs = x[j], xe = x[j + 1], ys = y[j], ye = y[j + 1];
        const int dx = std::abs(xe - xs);
        const int dy = std::abs(ys - ye);
        const bool flip = (dx >= dy && xs > xe) || (dx < dy && ys > ye);
        if (flip) {
            std::swap(xs, xe);
            std::swap(ys, ye);
        }
        if (dx == 0 && dy == 0) {
            // A repeated vertex: one point, whose row is never looked at (its column does not
            // change from its neighbours').
            visit(xs, ys);
            continue;
        }
        const double s =
            dx >= dy ? static_cast<double>(ye - ys) / dx : static_cast<double>(xe - xs) / dy;
        if (dx >= dy) {
            // The column moves by one every step, so the steps that cross a centre are found
            // directly: between the points t = c - xs and t + 1, in either direction.
            const auto row = [&](int t) { return static_cast<int>(ys + s * t + .5); };
            const int t0 = flip ? dx : 0;
            visit(t0 + xs, row(t0));
            for (int c = xs + ((2 - xs) % 5 + 5) % 5; c < xs + dx; c += 5) {
                const int t = c - xs;
                addCrossing(c, std::min(row(t), row(t + 1)));
            }
            const int tEnd = flip ? 0 : dx;
            previousU = tEnd + xs;
            previousV = row(tEnd);
        } else {
            // A steep edge: the column moves monotonically, by at most one a step, so only the
            // steps where it passes a pixel centre's column matter. Each is found from the
            // line's equation and checked with the same arithmetic; if a check fails (a jump of
            // two columns, possible only with huge coordinates) every step is traced instead.
            const auto column = [&](int t) { return static_cast<int>(xs + s * t + .5); };
            const int tStart = flip ? dy : 0;
            visit(column(tStart), tStart + ys);
            const std::size_t mark = used;
            if (!SteepCrossings(column, xs, s, dy, ys, w, addCrossing)) {
                used = mark;
                for (int d = 1; d <= dy; ++d) {
                    const int t = flip ? dy - d : d;
                    visit(column(t), t + ys);
                }
            }
            const int tEnd = flip ? 0 : dy;
            previousU = column(tEnd);
            previousV = tEnd + ys;
        }
    }
    a.resize(used);
    SortByColumn(a, static_cast<std::uint32_t>(h));
    a.push_back(static_cast<std::uint32_t>(h * w));  // no crossing lies beyond it
    std::uint32_t previous = 0;
    for (std::uint32_t& value : a) {
        const std::uint32_t t = value;
        value -= previous;
        previous = t;
    }
    // Two crossings at one place cancel: their empty run is dropped and the runs around it join.
    std::size_t j = 0;
    rle.counts.push_back(a[j++]);
    while (j < a.size()) {
        if (a[j] > 0) {
            rle.counts.push_back(a[j++]);
        } else {
            ++j;
            if (j < a.size()) rle.counts.back() += a[j++];
        }
    }
    return rle;
}

Rle RleFromPolygon(const std::vector<Point>& outline, int height, int width) {
    std::vector<double> xy;
    xy.reserve(outline.size() * 2);
    for (const Point& point : outline) {
        xy.push_back(point.x);
        xy.push_back(point.y);
    }
    return RleFromPolygon(xy, height, width);
}

Rle RleFromBox(const Box& box, int height, int width) {
    const double xs = box.x, xe = xs + box.width, ys = box.y, ye = ys + box.height;
    return RleFromPolygon(std::vector<double>{xs, ys, xs, ye, xe, ye, xe, ys}, height, width);
}

Rle RleMerge(const std::vector<Rle>& masks, bool intersect) {
    if (masks.empty()) return {};
    Rle merged = masks[0];
    for (std::size_t i = 1; i < masks.size(); ++i) {
        CheckSameSize(merged, masks[i]);
        Rle next{merged.height, merged.width, {}};
        next.counts.reserve(merged.counts.size() + masks[i].counts.size());
        bool value = false;
        std::uint64_t run = 0;
        WalkTogether(merged, masks[i], [&](std::uint64_t length, bool inA, bool inB) {
            const bool v = intersect ? (inA && inB) : (inA || inB);
            if (v != value) {
                next.counts.push_back(static_cast<std::uint32_t>(run));
                run = 0;
                value = v;
            }
            run += length;
        });
        next.counts.push_back(static_cast<std::uint32_t>(run));
        merged = std::move(next);
    }
    return merged;
}

std::uint64_t RleIntersectionArea(const Rle& a, const Rle& b) {
    CheckSameSize(a, b);
    std::uint64_t both = 0;
    WalkTogether(a, b, [&](std::uint64_t length, bool inA, bool inB) {
        if (inA && inB) both += length;
    });
    return both;
}

double RleIou(const Rle& detection, const Rle& truth, bool crowd) {
    if (detection.height != truth.height || detection.width != truth.width) return -1;
    std::uint64_t intersection = 0;
    std::uint64_t unionArea = 0;
    WalkTogether(detection, truth, [&](std::uint64_t length, bool inA, bool inB) {
        if (inA || inB) unionArea += length;
        if (inA && inB) intersection += length;
    });
    if (intersection == 0) return 0;
    if (crowd) unionArea = RleArea(detection);
    return static_cast<double>(intersection) / static_cast<double>(unionArea);
}

double BoxIou(const Box& d, const Box& g, bool crowd) {
    const double w = std::fmin(d.width + d.x, g.width + g.x) - std::fmax(d.x, g.x);
    if (w <= 0) return 0;
    const double h = std::fmin(d.height + d.y, g.height + g.y) - std::fmax(d.y, g.y);
    if (h <= 0) return 0;
    const double i = w * h;
    const double da = d.width * d.height;
    const double u = crowd ? da : da + g.width * g.height - i;
    return i / u;
}

std::vector<std::uint8_t> RleDecode(const Rle& rle) {
    std::vector<std::uint8_t> pixels;
    pixels.reserve(static_cast<std::size_t>(rle.height) * static_cast<std::size_t>(rle.width));
    std::uint8_t value = 0;
    for (const std::uint32_t count : rle.counts) {
        pixels.insert(pixels.end(), count, value);
        value = static_cast<std::uint8_t>(1 - value);
    }
    return pixels;
}

Rle RleEncode(const std::uint8_t* columnMajor, int height, int width) {
    Rle rle{height, width, {}};
    const std::size_t total = static_cast<std::size_t>(height) * static_cast<std::size_t>(width);
    std::uint8_t previous = 0;
    std::uint32_t run = 0;
    for (std::size_t j = 0; j < total; ++j) {
        const std::uint8_t value = columnMajor[j] != 0;
        if (value != previous) {
            rle.counts.push_back(run);
            run = 0;
            previous = value;
        }
        ++run;
    }
    rle.counts.push_back(run);
    return rle;
}

Rle RleFromSpans(const std::vector<PixelSpan>& input, int height, int width) {
    // Row spans sorted and joined, then swept down the rows: a column's run opens on the row
    // where the column becomes covered and closes where it stops, so the cost follows the
    // outline's length rather than its area.
    std::vector<PixelSpan> spans;
    spans.reserve(input.size());
    for (PixelSpan span : input) {
        span.begin = std::max(span.begin, 0);
        span.end = std::min(span.end, width);
        if (span.y >= 0 && span.y < height && span.begin < span.end) spans.push_back(span);
    }
    std::sort(spans.begin(), spans.end(), [](const PixelSpan& a, const PixelSpan& b) {
        return a.y != b.y ? a.y < b.y : a.begin < b.begin;
    });
    struct Interval {
        int x, y0, y1;
    };
    std::vector<Interval> columnRuns;
    std::vector<int> openedAt(static_cast<std::size_t>(std::max(width, 0)), -1);
    std::vector<std::pair<int, int>> previous, current;  // covered columns [begin, end)
    const auto changeRow = [&](int y) {
        // Boundaries of both rows' spans; between two, each row either covers all or none.
        std::vector<int> cuts;
        for (const auto& [b, e] : previous) cuts.insert(cuts.end(), {b, e});
        for (const auto& [b, e] : current) cuts.insert(cuts.end(), {b, e});
        std::sort(cuts.begin(), cuts.end());
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
        std::size_t ip = 0, ic = 0;
        for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
            const int from = cuts[c], to = cuts[c + 1];
            while (ip < previous.size() && previous[ip].second <= from) ++ip;
            while (ic < current.size() && current[ic].second <= from) ++ic;
            const bool wasCovered = ip < previous.size() && previous[ip].first <= from;
            const bool isCovered = ic < current.size() && current[ic].first <= from;
            for (int x = from; x < to && wasCovered != isCovered; ++x) {
                if (isCovered) {
                    openedAt[static_cast<std::size_t>(x)] = y;
                } else {
                    columnRuns.push_back({x, openedAt[static_cast<std::size_t>(x)], y});
                }
            }
        }
        previous.swap(current);
        current.clear();
    };
    std::size_t i = 0;
    int lastRow = -1;
    while (i < spans.size()) {
        const int y = spans[i].y;
        if (lastRow >= 0 && y != lastRow + 1) changeRow(lastRow + 1);  // an empty row between
        for (; i < spans.size() && spans[i].y == y; ++i) {
            if (!current.empty() && spans[i].begin <= current.back().second) {
                current.back().second = std::max(current.back().second, spans[i].end);
            } else {
                current.emplace_back(spans[i].begin, spans[i].end);
            }
        }
        changeRow(y);
        lastRow = y;
    }
    if (lastRow >= 0) changeRow(lastRow + 1);
    std::sort(columnRuns.begin(), columnRuns.end(), [](const Interval& a, const Interval& b) {
        return a.x != b.x ? a.x < b.x : a.y0 < b.y0;
    });
    Rle rle{height, width, {}};
    const std::uint64_t h = static_cast<std::uint64_t>(std::max(height, 0));
    std::uint64_t at = 0;  // the end of the last foreground run
    for (const Interval& run : columnRuns) {
        const std::uint64_t begin = run.x * h + static_cast<std::uint64_t>(run.y0);
        const std::uint64_t end = run.x * h + static_cast<std::uint64_t>(run.y1);
        if (!rle.counts.empty() && begin == at) {
            rle.counts.back() += static_cast<std::uint32_t>(end - begin);  // continues
        } else {
            rle.counts.push_back(static_cast<std::uint32_t>(begin - at));
            rle.counts.push_back(static_cast<std::uint32_t>(end - begin));
        }
        at = end;
    }
    const std::uint64_t total = h * static_cast<std::uint64_t>(std::max(width, 0));
    if (rle.counts.empty() || at < total)
        rle.counts.push_back(static_cast<std::uint32_t>(total - at));
    return rle;
}

}  // namespace annoxml
