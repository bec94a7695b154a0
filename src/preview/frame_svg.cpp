#include <algorithm>
#include <array>
#include <optional>

#include "annoxml/preview.h"
#include "preview/color.h"
#include "preview/geometry.h"
#include "preview/markup.h"
#include "preview/rater_svg.h"

namespace annoxml {
namespace {

using detail::EscapeMarkup;
using detail::FormatNumber;
using detail::Rgba;

constexpr double kRegionFillOpacity = 0.35;
constexpr const char* kBackground = "#808080";

// Writes the SVG of one frame; sizes of marks and texts follow the image's size.
class SvgBuilder {
  public:
    explicit SvgBuilder(const Frame& frame)
        : width_(std::max(frame.width, 1)),
          height_(std::max(frame.height, 1)),
          fontSize_(std::max(width_, height_) / 50.0) {}

    double fontSize() const { return fontSize_; }
    std::string& out() { return out_; }

    void Open(bool background) {
        const std::string w = std::to_string(width_), h = std::to_string(height_);
        out_ += "<svg class=\"shapes\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + w +
                " " + h + "\" font-size=\"" + FormatNumber(fontSize_) + "\">";
        if (background) {
            out_ += "<rect class=\"background\" width=\"" + w + "\" height=\"" + h + "\" fill=\"" +
                    kBackground + "\"/>";
        }
    }
    void Close() { out_ += "</svg>"; }

    void Points(const std::vector<Point>& points) {
        out_ += " points=\"";
        for (const Point& point : points) {
            if (&point != &points.front()) out_ += ' ';
            out_ += FormatNumber(point.x) + "," + FormatNumber(point.y);
        }
        out_ += '"';
    }
    void Polyline(const std::vector<Point>& points) {
        out_ += "<polyline fill=\"none\"";
        Points(points);
        out_ += "/>";
    }
    void Polygon(const std::vector<Point>& points) {
        out_ += "<polygon";
        Points(points);
        out_ += "/>";
    }
    void Line(const Point& a, const Point& b) { Polyline({a, b}); }
    void Circle(const Point& center, double radius) {
        out_ += "<circle cx=\"" + FormatNumber(center.x) + "\" cy=\"" + FormatNumber(center.y) +
                "\" r=\"" + FormatNumber(radius) + "\"/>";
    }
    // `attributes` places it: text-anchor, dominant-baseline.
    void Text(const Point& at, const std::string& text, const std::string& attributes = "") {
        out_ += "<text x=\"" + FormatNumber(at.x) + "\" y=\"" + FormatNumber(at.y) + "\"" +
                attributes + ">" + EscapeMarkup(text) + "</text>";
    }
    void Title(const std::string& text) { out_ += "<title>" + EscapeMarkup(text) + "</title>"; }

  private:
    int width_;
    int height_;
    double fontSize_;
    std::string out_;
};

std::string Opacity(const char* attribute, double opacity) {
    return opacity >= 1 ? ""
                        : std::string(" ") + attribute + "=\"" + FormatNumber(opacity, 3) + "\"";
}

// "Polygon with Index 3", then the label, the description and the mask, one a line.
std::string HoverTitle(ShapeKind kind, const std::string& index, const std::string& label,
                       const std::string& description, const std::optional<std::string>& mask) {
    std::string title = ShapeName(kind, index);
    if (!label.empty()) title += "\nLabel: " + label;
    if (!description.empty()) title += "\n" + description;
    if (mask) title += "\nMask " + *mask;
    return title;
}

void DrawRegion(const Frame& frame, const Region& region, SvgBuilder& svg) {
    const Rgba fill = detail::FirstUsable(
        {detail::LabelColor(frame.labels, region.label), detail::ParseColor(region.color)});
    std::string stroke =
        " stroke=\"" + detail::RgbText(fill) + "\"" + Opacity("stroke-opacity", fill.alpha);
    if (region.mask) {
        const auto mask = std::find_if(frame.masks.begin(), frame.masks.end(),
                                       [&](const Mask& m) { return m.index == *region.mask; });
        const Rgba maskColor = detail::FirstUsable(
            {mask == frame.masks.end() ? std::nullopt : detail::ParseColor(mask->color), fill});
        stroke = " stroke=\"" + detail::RgbText(maskColor) + "\" stroke-dasharray=\"6 3\"";
    }
    svg.out() += "<g class=\"region\" fill=\"" + detail::RgbText(fill) + "\"" +
                 Opacity("fill-opacity", kRegionFillOpacity * fill.alpha) + stroke + ">";
    svg.Title(HoverTitle(region.kind, region.index, region.label, region.description, region.mask));
    svg.Polygon(region.outline);
    svg.out() += "</g>";
}

// The first part of a mark, or nothing when it has none.
const std::vector<Point>& FirstPart(const Mark& mark) {
    static const std::vector<Point> none;
    return mark.parts.empty() ? none : mark.parts.front();
}

const std::string kAbove = " text-anchor=\"middle\" dy=\"-0.4em\"";

void DrawArrowhead(const Point& from, const Point& tip, SvgBuilder& svg) {
    const double length = detail::Distance(from, tip);
    if (!(length > 0)) return;
    const double ux = (tip.x - from.x) / length, uy = (tip.y - from.y) / length;
    const double back = svg.fontSize() * 0.9, side = svg.fontSize() * 0.4;
    const Point base{tip.x - ux * back, tip.y - uy * back};
    svg.Polygon(
        {tip, {base.x - uy * side, base.y + ux * side}, {base.x + uy * side, base.y - ux * side}});
}

void DrawLine(const Mark& mark, SvgBuilder& svg) {
    const std::vector<Point>& points = FirstPart(mark);
    if (points.size() >= 2) svg.Line(points[0], points[1]);
}

void DrawRuler(const Mark& mark, SvgBuilder& svg) {
    const std::vector<Point>& points = FirstPart(mark);
    if (points.size() < 2) return;
    const Point &a = points[0], &b = points[1];
    svg.Line(a, b);
    const double length = detail::Distance(a, b);
    if (length > 0) {
        const double tick = svg.fontSize() * 0.4;
        const double nx = -(b.y - a.y) / length * tick, ny = (b.x - a.x) / length * tick;
        for (const Point& end : {a, b})
            svg.Line({end.x - nx, end.y - ny}, {end.x + nx, end.y + ny});
    }
    svg.Text(detail::Midpoint(a, b), FormatNumber(length, 1) + " px", kAbove);
}

void DrawArrowText(const Mark& mark, SvgBuilder& svg) {
    const std::vector<Point>& points = FirstPart(mark);
    if (points.size() < 2) return;
    svg.Line(points[0], points[1]);
    DrawArrowhead(points[0], points[1], svg);
    svg.Text(points[0], mark.text, kAbove);
}

void DrawText(const Mark& mark, SvgBuilder& svg) {
    const std::vector<Point>& points = FirstPart(mark);
    if (!points.empty()) svg.Text(points[0], mark.text, " dominant-baseline=\"hanging\"");
}

void DrawPolyLine(const Mark& mark, SvgBuilder& svg) {
    for (const std::vector<Point>& part : mark.parts) {
        if (!part.empty()) svg.Polyline(part);
    }
}

void DrawAngle(const Mark& mark, SvgBuilder& svg) {
    DrawPolyLine(mark, svg);
    const std::vector<Point>& points = FirstPart(mark);
    if (points.size() != 3) return;
    if (const std::optional<double> angle =
            detail::AngleAtVertex(points[0], points[1], points[2])) {
        svg.Text(points[1], FormatNumber(*angle, 1) + "°", kAbove);
    }
}

void DrawPointObject(const Mark& mark, SvgBuilder& svg) {
    for (const Point& point : FirstPart(mark)) svg.Circle(point, svg.fontSize() * 0.35);
}

void DrawCobbAngle(const Mark& mark, SvgBuilder& svg) {
    DrawPolyLine(mark, svg);
    if (mark.parts.size() < 2) return;
    const std::vector<Point>&first = mark.parts[0], &second = mark.parts[1];
    if (const std::optional<double> angle = detail::AngleBetweenLines(first, second)) {
        const Point at = detail::Midpoint(detail::Midpoint(first.front(), first.back()),
                                          detail::Midpoint(second.front(), second.back()));
        svg.Text(at, FormatNumber(*angle, 1) + "°", " text-anchor=\"middle\"");
    }
}

using MarkDrawer = void (*)(const Mark&, SvgBuilder&);

// By ShapeKind; the area kinds are regions and never marks.
const std::array<MarkDrawer, kShapeKindCount> kMarkDrawers = {
    nullptr,      nullptr,   nullptr,         nullptr,       nullptr,
    DrawLine,     DrawRuler, DrawText,        DrawArrowText, DrawPolyLine,
    DrawPolyLine, DrawAngle, DrawPointObject, DrawCobbAngle, DrawPolyLine,
};

void DrawMark(const Frame& frame, const Mark& mark, SvgBuilder& svg) {
    const MarkDrawer draw = kMarkDrawers[static_cast<std::size_t>(mark.kind)];
    if (draw == nullptr) return;
    const Rgba color = detail::FirstUsable(
        {detail::ParseColor(mark.color), detail::LabelColor(frame.labels, mark.label)});
    const std::string rgb = detail::RgbText(color);
    svg.out() += "<g class=\"mark\" stroke=\"" + rgb + "\" fill=\"" + rgb + "\"" +
                 Opacity("opacity", color.alpha) + ">";
    svg.Title(HoverTitle(mark.kind, mark.index, mark.label, mark.description, std::nullopt));
    draw(mark, svg);
    svg.out() += "</g>";
}

}  // namespace

std::string RenderFrameSvg(const Frame& frame, bool background) {
    SvgBuilder svg(frame);
    svg.Open(background);
    for (const Region& region : frame.regions) DrawRegion(frame, region, svg);
    for (const Mark& mark : frame.marks) DrawMark(frame, mark, svg);
    svg.Close();
    return std::move(svg.out());
}

}  // namespace annoxml

namespace annoxml::detail {

std::string RaterRegionsSvg(const std::vector<RaterLayer>& layers, bool background) {
    if (layers.empty()) return "";
    SvgBuilder svg(*layers.front().frame);
    svg.Open(background);
    for (const RaterLayer& layer : layers) {
        const std::string rgb = RgbText(layer.color);
        svg.out() += "<g class=\"rater\" fill=\"" + rgb + "\"" +
                     Opacity("fill-opacity", kRegionFillOpacity * 0.6) + " stroke=\"" + rgb + "\">";
        for (const Region& region : layer.frame->regions) {
            svg.out() += "<g class=\"region\">";
            svg.Title(layer.name + "\n" +
                      HoverTitle(region.kind, region.index, region.label, region.description,
                                 region.mask));
            svg.Polygon(region.outline);
            svg.out() += "</g>";
        }
        svg.out() += "</g>";
    }
    svg.Close();
    return std::move(svg.out());
}

}  // namespace annoxml::detail
