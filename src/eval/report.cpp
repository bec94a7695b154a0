// What eval prints and draws: the JSON document, the tables, and precision-recall curves.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "annoxml/eval.h"
#include "util/text_columns.h"

namespace annoxml {
namespace {

using detail::Characters;
using detail::Padded;
using nlohmann::ordered_json;

ordered_json FrameScoresJson(const FrameScores& s) {
    return ordered_json{{"dice", s.dice},
                        {"iou", s.iou},
                        {"sensitivity", s.sensitivity},
                        {"specificity", s.specificity},
                        {"fp_per_frame", s.fpPerFrame},
                        {"frames", s.frames}};
}

ordered_json PerCategory(const GroundTruth& truth, const std::vector<FrameScores>& scores) {
    ordered_json object = ordered_json::object();
    for (std::size_t i = 0; i < scores.size(); ++i) {
        object[truth.categories()[i].name] = FrameScoresJson(scores[i]);
    }
    return object;
}

std::string Fixed(double value, int places = 3) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", places, value);
    return text;
}

std::size_t NameWidth(const GroundTruth& truth, std::size_t least) {
    std::size_t width = least;
    for (const EvalCategory& category : truth.categories()) {
        width = std::max(width, Characters(category.name));
    }
    return width + 2;
}

std::string FrameTable(const GroundTruth& truth, const FrameReport& frames) {
    std::ostringstream out;
    const std::size_t width = NameWidth(truth, 8);
    const auto row = [&](const std::string& name, const FrameScores& s) {
        out << "  " << Padded(name, width) << Padded(Fixed(s.dice), 8) << Padded(Fixed(s.iou), 8)
            << Padded(Fixed(s.sensitivity), 8) << Padded(Fixed(s.specificity), 8)
            << Padded(Fixed(s.fpPerFrame), 8) << s.frames << "\n";
    };
    const auto header = [&](const std::string& title) {
        out << title << "\n  " << Padded("category", width)
            << "dice    iou     sensit  specif  fp/frm  frames\n";
    };
    header("Per frame, predictions with score >= " + Fixed(frames.scoreThreshold, 2) + ":");
    row("(all)", frames.overall);
    for (std::size_t k = 0; k < frames.perCategory.size(); ++k) {
        row(truth.categories()[k].name, frames.perCategory[k]);
    }
    for (const auto& [folder, scores] : frames.perFolder) {
        header("Folder " + folder + ":");
        for (std::size_t k = 0; k < scores.size(); ++k) row(truth.categories()[k].name, scores[k]);
    }
    return out.str();
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// A precision-recall chart of one category: IoU .50, .75 and the mean over .50:.95, area all,
// 100 detections.
std::string CurveSvg(const CocoScores& scores, std::size_t k, const std::string& title) {
    constexpr double kLeft = 50, kTop = 30, kSize = 300;
    std::ostringstream svg;
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"380\" height=\"380\" "
           "font-family=\"sans-serif\" font-size=\"11\">\n"
        << "<rect width=\"380\" height=\"380\" fill=\"white\"/>\n"
        << "<text x=\"" << kLeft << "\" y=\"18\" font-size=\"13\">" << Escaped(title)
        << "</text>\n";
    for (int i = 0; i <= 10; ++i) {
        const double at = i / 10.0;
        const double x = kLeft + at * kSize, y = kTop + (1 - at) * kSize;
        svg << "<line x1=\"" << x << "\" y1=\"" << kTop << "\" x2=\"" << x << "\" y2=\""
            << kTop + kSize << "\" stroke=\"#eee\"/>"
            << "<line x1=\"" << kLeft << "\" y1=\"" << y << "\" x2=\"" << kLeft + kSize
            << "\" y2=\"" << y << "\" stroke=\"#eee\"/>\n";
        if (i % 2 == 0) {
            svg << "<text x=\"" << x - 8 << "\" y=\"" << kTop + kSize + 14 << "\">" << Fixed(at, 1)
                << "</text><text x=\"" << kLeft - 28 << "\" y=\"" << y + 4 << "\">" << Fixed(at, 1)
                << "</text>\n";
        }
    }
    svg << "<rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kSize << "\" height=\""
        << kSize << "\" fill=\"none\" stroke=\"black\"/>\n"
        << "<text x=\"" << kLeft + kSize / 2 - 15 << "\" y=\"" << kTop + kSize + 30
        << "\">recall</text>\n"
        << "<text x=\"12\" y=\"" << kTop + kSize / 2 + 20 << "\" transform=\"rotate(-90 12 "
        << kTop + kSize / 2 + 20 << ")\">precision</text>\n";
    const std::size_t T = scores.iouThresholds.size();
    const std::size_t R = scores.recallThresholds.size();
    struct Curve {
        const char* label;
        const char* color;
        long t;  // -1: mean over thresholds
    };
    const Curve curves[] = {
        {"IoU .50", "#1f77b4", 0}, {"IoU .75", "#d62728", 5}, {"IoU .50:.95", "#2ca02c", -1}};
    int legend = 0;
    for (const Curve& curve : curves) {
        svg << "<polyline fill=\"none\" stroke=\"" << curve.color << "\" stroke-width=\"1.5\" "
            << "points=\"";
        for (std::size_t r = 0; r < R; ++r) {
            double p = 0;
            if (curve.t >= 0) {
                p = scores.Precision(static_cast<std::size_t>(curve.t), r, k, 0, 2);
            } else {
                for (std::size_t t = 0; t < T; ++t) p += scores.Precision(t, r, k, 0, 2);
                p /= static_cast<double>(T);
            }
            p = std::max(p, 0.0);
            svg << kLeft + scores.recallThresholds[r] * kSize << "," << kTop + (1 - p) * kSize
                << " ";
        }
        svg << "\"/>\n<text x=\"" << kLeft + kSize - 80 << "\" y=\"" << kTop + 16 + 14 * legend
            << "\" fill=\"" << curve.color << "\">" << curve.label << "</text>\n";
        ++legend;
    }
    svg << "</svg>\n";
    return svg.str();
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("Cannot write " + path.string());
}

std::string SafeName(const std::string& name) {
    std::string safe;
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_';
        safe += plain ? c : '_';
    }
    return safe;
}

}  // namespace

std::string EvalJson(const GroundTruth& truth, const std::vector<CocoScores>& scores,
                     const FrameReport* frames) {
    ordered_json doc = ordered_json::object();
    for (const CocoScores& s : scores) {
        ordered_json entry = ordered_json::object();
        for (std::size_t i = 0; i < s.stats.size(); ++i) entry[SummaryNames()[i]] = s.stats[i];
        ordered_json perCategory = ordered_json::object();
        for (const std::size_t index : s.categoryOrder) {
            perCategory[truth.categories()[index].name] = s.categoryAp[index];
        }
        entry["per_category"] = std::move(perCategory);
        doc[IouTypeName(s.type)] = std::move(entry);
    }
    if (frames) {
        ordered_json f = ordered_json::object();
        f["score_threshold"] = frames->scoreThreshold;
        f["overall"] = FrameScoresJson(frames->overall);
        f["per_category"] = PerCategory(truth, frames->perCategory);
        ordered_json folders = ordered_json::object();
        for (const auto& [folder, perCategory] : frames->perFolder) {
            folders[folder] = PerCategory(truth, perCategory);
        }
        f["per_folder"] = std::move(folders);
        doc["frames"] = std::move(f);
    }
    return doc.dump(2) + "\n";
}

std::string EvalTable(const GroundTruth& truth, const std::vector<CocoScores>& scores,
                      const FrameReport* frames) {
    static const char* const kLines[12] = {
        "Average Precision  (AP) @[ IoU=0.50:0.95 | area=   all | maxDets=100 ]",
        "Average Precision  (AP) @[ IoU=0.50      | area=   all | maxDets=100 ]",
        "Average Precision  (AP) @[ IoU=0.75      | area=   all | maxDets=100 ]",
        "Average Precision  (AP) @[ IoU=0.50:0.95 | area= small | maxDets=100 ]",
        "Average Precision  (AP) @[ IoU=0.50:0.95 | area=medium | maxDets=100 ]",
        "Average Precision  (AP) @[ IoU=0.50:0.95 | area= large | maxDets=100 ]",
        "Average Recall     (AR) @[ IoU=0.50:0.95 | area=   all | maxDets=  1 ]",
        "Average Recall     (AR) @[ IoU=0.50:0.95 | area=   all | maxDets= 10 ]",
        "Average Recall     (AR) @[ IoU=0.50:0.95 | area=   all | maxDets=100 ]",
        "Average Recall     (AR) @[ IoU=0.50:0.95 | area= small | maxDets=100 ]",
        "Average Recall     (AR) @[ IoU=0.50:0.95 | area=medium | maxDets=100 ]",
        "Average Recall     (AR) @[ IoU=0.50:0.95 | area= large | maxDets=100 ]"};
    std::ostringstream out;
    for (const CocoScores& s : scores) {
        out << "IoU type " << IouTypeName(s.type) << ":\n";
        for (std::size_t i = 0; i < 12; ++i) {
            out << " " << kLines[i] << " = " << Fixed(s.stats[i]) << "\n";
        }
        const std::size_t width = NameWidth(truth, 8);
        out << "  " << Padded("category", width) << "AP\n";
        for (const std::size_t index : s.categoryOrder) {
            out << "  " << Padded(truth.categories()[index].name, width)
                << Fixed(s.categoryAp[index]) << "\n";
        }
    }
    if (frames) out << FrameTable(truth, *frames);
    return out.str();
}

void WriteEvalPlots(const std::string& dir, const GroundTruth& truth,
                    const std::vector<CocoScores>& scores, const FrameReport* frames) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::create_directories(fs::u8path(dir), error);
    if (error) throw std::runtime_error("Cannot create " + dir + ": " + error.message());
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>annoxml eval</title>"
            "<style>body{font-family:sans-serif}img{margin:4px;border:1px solid #ccc}"
            "pre{background:#f6f6f6;padding:8px}</style></head><body>\n<h1>Evaluation</h1>\n"
         << "<pre>" << Escaped(EvalTable(truth, scores, frames)) << "</pre>\n";
    for (const CocoScores& s : scores) {
        html << "<h2>Precision-recall, " << IouTypeName(s.type) << "</h2>\n";
        for (std::size_t k = 0; k < s.categoryOrder.size(); ++k) {
            const EvalCategory& category = truth.categories()[s.categoryOrder[k]];
            const std::string file = std::string(IouTypeName(s.type)) + "_" +
                                     std::to_string(category.id) + "_" + SafeName(category.name) +
                                     ".svg";
            WriteText(fs::u8path(dir) / fs::u8path(file),
                      CurveSvg(s, k,
                               category.name + " (" + IouTypeName(s.type) + ", AP " +
                                   Fixed(s.categoryAp[s.categoryOrder[k]]) + ")"));
            html << "<img src=\"" << Escaped(file) << "\" alt=\"" << Escaped(category.name)
                 << "\">\n";
        }
    }
    html << "</body></html>\n";
    WriteText(fs::u8path(dir) / "index.html", html.str());
}

}  // namespace annoxml
