#include "preview/pages.h"

#include <cstdio>

#include "annoxml/preview.h"
#include "preview/color.h"
#include "preview/markup.h"

namespace annoxml::detail {
namespace {

// Everything the pages need, inline: no network, no external files.
constexpr const char* kStyle = R"(
body{font:14px/1.4 system-ui,sans-serif;margin:1.5rem;background:#f2f2f2;color:#222}
h1{font-size:1.4rem}h2{font-size:1.1rem}
nav{margin:.5rem 0 1rem}nav a{margin-right:1.2em}
table{border-collapse:collapse;margin-bottom:1rem}
th,td{padding:.15rem .7rem;text-align:left;border-bottom:1px solid #ddd}td.n{text-align:right}
.swatch{display:inline-block;width:1em;height:1em;margin-right:.5em;vertical-align:-.15em;border:1px solid #0005}
.failed code{overflow-wrap:anywhere}
.frames{display:grid;grid-template-columns:repeat(auto-fill,minmax(440px,1fr));gap:1rem}
.frame{background:#fff;border:1px solid #ccc;padding:.4rem .8rem .8rem;min-width:0;
content-visibility:auto;contain-intrinsic-size:auto 480px}
.frame h2{font-size:1rem;margin:.2rem 0;overflow-wrap:anywhere}.frame h2 a{color:#888;margin-right:.5em}
.meta{color:#555;margin:.2rem 0 .6rem;overflow-wrap:anywhere}
.view{position:relative;width:100%;background:#808080}
.view img,.view svg{position:absolute;left:0;top:0;width:100%;height:100%;display:block}
.shapes *{vector-effect:non-scaling-stroke}
.shapes g{stroke-width:2px}
.shapes text{font-family:sans-serif;paint-order:stroke;stroke:#000;stroke-width:3px;stroke-opacity:.6}
.shapes circle{stroke:#000;stroke-width:1px}
)";

std::string Cell(const std::string& text, bool number = false) {
    return std::string(number ? "<td class=\"n\">" : "<td>") + text + "</td>";
}

std::string CountTable(const std::vector<std::pair<std::string, std::size_t>>& rows) {
    std::string html = "<table>";
    for (const auto& [name, count] : rows) {
        html += "<tr>" + Cell(EscapeMarkup(name)) + Cell(std::to_string(count), true) + "</tr>";
    }
    return html + "</table>\n";
}

std::string SummaryTable(const Statistics& statistics) {
    std::vector<std::pair<std::string, std::size_t>> rows;
    for (const SummaryCount& row : StatisticsSummary(statistics))
        rows.push_back({row.label, row.count});
    return CountTable(rows);
}

std::string KindTable(const Statistics& statistics) {
    std::vector<std::pair<std::string, std::size_t>> rows;
    for (ShapeKind kind : AllShapeKinds())
        rows.push_back({KindName(kind), statistics.shapes(kind)});
    return CountTable(rows);
}

std::string Legend(const Statistics& statistics) {
    if (statistics.categories().empty()) return "<p>No categories.</p>\n";
    std::string html = "<table class=\"legend\"><tr><th>Category</th><th>Regions</th></tr>";
    for (const CategoryCount& category : statistics.categories()) {
        const Rgba color = FirstUsable({ParseColor(category.color)});
        html += "<tr>" +
                Cell("<span class=\"swatch\" style=\"background:" + RgbText(color) + "\"></span>" +
                     EscapeMarkup(category.name)) +
                Cell(std::to_string(category.regions), true) + "</tr>";
    }
    return html + "</table>\n";
}

std::string PageList(const std::vector<PageEntry>& pages) {
    if (pages.empty()) return "<p>No frames.</p>\n";
    std::string html = "<ol class=\"pages\">";
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const PageEntry& page = pages[i];
        html += "<li><a href=\"" + PageFileName(i + 1) + "\">Page " + std::to_string(i + 1) +
                "</a>: frames " + std::to_string(page.firstFrame) + "–" +
                std::to_string(page.firstFrame + page.frames - 1) + ", " +
                EscapeMarkup(page.firstName) + " … " + EscapeMarkup(page.lastName) + "</li>";
    }
    return html + "</ol>\n";
}

std::string FailureList(const Statistics& statistics) {
    if (statistics.failures().empty()) return "<p>None.</p>\n";
    std::string html = "<ul class=\"failed\">";
    for (const FailedFile& failure : statistics.failures()) {
        html += "<li><code>" + EscapeMarkup(failure.path) +
                "</code>: " + EscapeMarkup(failure.message) + "</li>";
    }
    return html + "</ul>\n";
}

}  // namespace

std::string PageFileName(std::size_t page) {
    char name[32];
    std::snprintf(name, sizeof name, "page-%04zu.html", page);
    return name;
}

std::string DocumentStart(const std::string& title) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           EscapeMarkup(title) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
}

std::string DocumentEnd() { return "</body>\n</html>\n"; }

std::string PageNavigation(std::size_t previous, std::size_t next) {
    std::string html = "<nav><a href=\"index.html\">Index</a>";
    if (previous > 0) {
        html += "<a href=\"" + PageFileName(previous) + "\" rel=\"prev\">← Page " +
                std::to_string(previous) + "</a>";
    }
    if (next > 0) {
        html += "<a href=\"" + PageFileName(next) + "\" rel=\"next\">Page " + std::to_string(next) +
                " →</a>";
    }
    return html + "</nav>\n";
}

std::string FrameSection(const Frame& frame, std::size_t number, const std::string& imageLink) {
    const std::string id = "frame-" + std::to_string(number);
    const std::string w = std::to_string(frame.width), h = std::to_string(frame.height);
    std::string html = "<section class=\"frame\" id=\"" + id + "\"><h2><a href=\"#" + id + "\">" +
                       std::to_string(number) + "</a>" + EscapeMarkup(frame.fileName) + "</h2>\n";
    html += "<p class=\"meta\">" + w + " × " + h + " px · user " + EscapeMarkup(frame.user) +
            " · " + EscapeMarkup(frame.captured) + " · " + std::to_string(frame.regions.size()) +
            " regions, " + std::to_string(frame.marks.size()) + " marks · " +
            EscapeMarkup(frame.source) + (imageLink.empty() ? " · image not found" : "") + "</p>\n";
    html += "<div class=\"view\" style=\"aspect-ratio:" + std::to_string(std::max(frame.width, 1)) +
            "/" + std::to_string(std::max(frame.height, 1)) + "\">";
    if (!imageLink.empty()) {
        html += "<img src=\"" + EscapeMarkup(imageLink) +
                "\" alt=\"\" loading=\"lazy\" decoding=\"async\">";
    }
    return html + RenderFrameSvg(frame, imageLink.empty()) + "</div></section>\n";
}

std::string IndexPage(const Statistics& statistics, const std::vector<PageEntry>& pages) {
    std::string html = DocumentStart("Annotation preview");
    html += "<h1>Annotation preview</h1>\n<h2>Statistics</h2>\n" + SummaryTable(statistics);
    html += "<h2>Categories</h2>\n" + Legend(statistics);
    html += "<h2>Pages</h2>\n" + PageList(pages);
    html += "<h2>Failed files</h2>\n" + FailureList(statistics);
    html += "<h2>Shapes per kind</h2>\n" + KindTable(statistics);
    return html + DocumentEnd();
}

}  // namespace annoxml::detail
