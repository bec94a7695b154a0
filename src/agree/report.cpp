// The agreement page: the tables, and the frames of lowest agreement drawn over their images.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "annoxml/agree.h"
#include "preview/color.h"
#include "preview/image_lookup.h"
#include "preview/markup.h"
#include "preview/pages.h"
#include "preview/rater_svg.h"
#include "util/atomic_file.h"

namespace annoxml {
namespace {

using detail::EscapeMarkup;

// Colours far apart from each other, for up to eight raters; more repeat them.
constexpr detail::Rgba kRaterColors[] = {
    {230, 25, 75, 1},  {60, 180, 75, 1},  {0, 130, 200, 1},  {255, 225, 25, 1},
    {145, 30, 180, 1}, {245, 130, 48, 1}, {70, 240, 240, 1}, {240, 50, 230, 1},
};

detail::Rgba RaterColor(std::size_t rater) {
    return kRaterColors[rater % (sizeof kRaterColors / sizeof kRaterColors[0])];
}

std::string Cell(const std::string& text, bool number) {
    return std::string(number ? "<td class=\"n\">" : "<td>") + text + "</td>";
}

std::string FixedCell(const std::optional<double>& value) {
    if (!value) return "–";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", *value);
    return text;
}

std::string RaterName(const AgreementReport& report, std::size_t rater) {
    return "<span class=\"swatch\" style=\"background:" + detail::RgbText(RaterColor(rater)) +
           "\"></span>" + EscapeMarkup(report.raters[rater]);
}

std::string MeasuresTable(const PairAgreement& pair) {
    std::vector<std::pair<std::string, const AgreementMeasures*>> rows{{"overall", &pair.overall}};
    for (const auto& [name, m] : pair.perCategory) rows.push_back({"category " + name, &m});
    if (pair.perFolder.size() > 1) {
        for (const auto& [name, m] : pair.perFolder) rows.push_back({"folder " + name, &m});
    }
    std::string html =
        "<table class=\"agreement\"><tr><th></th><th>Dice</th><th>IoU</th><th>Dice, frame "
        "mean</th><th>IoU, frame mean</th><th>Precision</th><th>Recall</th><th>F1</th>"
        "<th>Matched IoU</th><th>Kappa</th></tr>";
    for (const auto& [name, m] : rows) {
        html += "<tr>" + Cell(EscapeMarkup(name), false);
        for (const std::optional<double>* value :
             {&m->dice, &m->iou, &m->diceMean, &m->iouMean, &m->precision, &m->recall, &m->f1,
              &m->matchedIou, &m->kappa}) {
            html += Cell(FixedCell(*value), true);
        }
        html += "</tr>";
    }
    return html + "</table>\n";
}

std::string FrameSection(const AgreementReport& report, const DisagreementFrame& shown,
                         std::size_t number, const std::string& outDir,
                         const std::string& imagesDir) {
    const Frame& first = shown.frames.front();
    std::string imageLink;
    // The frame's data-set file name: its folder below the rater's folder, then its image.
    const std::string folder = std::filesystem::u8path(shown.path).parent_path().generic_string();
    for (const Frame& frame : shown.frames) {
        const std::string image(ImageFileName(frame.fileName));
        const std::string fileName = folder.empty() ? image : folder + "/" + image;
        if (const auto found = FindFrameImage(frame, fileName, imagesDir)) {
            imageLink = detail::RelativeLink(*found, std::filesystem::u8path(outDir));
            break;
        }
    }
    std::vector<detail::RaterLayer> layers;
    for (std::size_t r = 0; r < shown.frames.size(); ++r) {
        layers.push_back({&shown.frames[r], report.raters[r], RaterColor(r)});
    }
    const std::string id = "frame-" + std::to_string(number);
    std::string html = "<section class=\"frame\" id=\"" + id + "\"><h2><a href=\"#" + id + "\">" +
                       std::to_string(number) + "</a>" + EscapeMarkup(shown.path) +
                       "</h2>\n<p class=\"meta\">mean Dice over pairs " + FixedCell(shown.score) +
                       " · " + std::to_string(first.width) + " × " + std::to_string(first.height) +
                       " px";
    for (std::size_t r = 0; r < shown.frames.size(); ++r) {
        html += " · " + RaterName(report, r) + ": " +
                std::to_string(shown.frames[r].regions.size()) + " regions";
    }
    html += (imageLink.empty() ? " · image not found" : "") + std::string("</p>\n");
    html += "<div class=\"view\" style=\"aspect-ratio:" + std::to_string(std::max(first.width, 1)) +
            "/" + std::to_string(std::max(first.height, 1)) + "\">";
    if (!imageLink.empty()) {
        html += "<img src=\"" + EscapeMarkup(imageLink) + "\" alt=\"\" decoding=\"async\">";
    }
    return html + detail::RaterRegionsSvg(layers, imageLink.empty()) + "</div></section>\n";
}

}  // namespace

void WriteAgreementPage(const AgreementReport& report, const std::string& outDir,
                        const std::string& imagesDir) {
    std::string html = detail::DocumentStart("Agreement between raters");
    html += "<h1>Agreement between raters</h1>\n<h2>Raters</h2>\n<ol class=\"raters\">";
    for (std::size_t r = 0; r < report.raters.size(); ++r) {
        html += "<li>" + RaterName(report, r) + "</li>";
    }
    html += "</ol>\n<p>" + std::to_string(report.frames) + " frames compared; " +
            std::to_string(report.unmatchedFrames.size()) +
            " not in every folder and left out.</p>\n";
    for (const PairAgreement& pair : report.pairs) {
        html += "<h2>" + RaterName(report, pair.a) + " (a) against " + RaterName(report, pair.b) +
                " (b)</h2>\n" + MeasuresTable(pair);
    }
    if (report.meanOfPairs) {
        html += "<h2>Mean over the pairs</h2>\n" + MeasuresTable(*report.meanOfPairs);
        html += "<h2>Fleiss' kappa of presence</h2>\n<table class=\"fleiss\">";
        for (const auto& [name, kappa] : report.fleissKappa) {
            html +=
                "<tr>" + Cell(EscapeMarkup(name), false) + Cell(FixedCell(kappa), true) + "</tr>";
        }
        html += "</table>\n";
    }
    html += "<h2>Frames of lowest agreement</h2>\n";
    if (report.lowest.empty()) html += "<p>None: the raters agree on every frame.</p>\n";
    html += "<div class=\"frames\">";
    for (std::size_t i = 0; i < report.lowest.size(); ++i) {
        html += FrameSection(report, report.lowest[i], i + 1, outDir, imagesDir);
    }
    html += "</div>\n";
    if (!report.unmatchedFrames.empty()) {
        html += "<h2>Frames not in every folder</h2>\n<ul class=\"unmatched\">";
        for (const std::string& path : report.unmatchedFrames) {
            html += "<li><code>" + EscapeMarkup(path) + "</code></li>";
        }
        html += "</ul>\n";
    }
    std::filesystem::create_directories(std::filesystem::u8path(outDir));
    detail::WriteFileAtomically((std::filesystem::u8path(outDir) / "index.html").string(),
                                html + detail::DocumentEnd());
}

}  // namespace annoxml
