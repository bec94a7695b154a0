// The agreement report as JSON and as plain-text tables.
#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "annoxml/agree.h"
#include "util/text_columns.h"

namespace annoxml {
namespace {

using Json = nlohmann::ordered_json;
using detail::Characters;
using detail::Padded;

// The measures in the order of the JSON keys and of the table's columns.
struct MeasureField {
    const char* key;
    std::optional<double> AgreementMeasures::*field;
};
constexpr MeasureField kMeasureFields[] = {
    {"dice", &AgreementMeasures::dice},
    {"iou", &AgreementMeasures::iou},
    {"dice_mean", &AgreementMeasures::diceMean},
    {"iou_mean", &AgreementMeasures::iouMean},
    {"precision", &AgreementMeasures::precision},
    {"recall", &AgreementMeasures::recall},
    {"f1", &AgreementMeasures::f1},
    {"matched_iou", &AgreementMeasures::matchedIou},
    {"kappa", &AgreementMeasures::kappa},
};

Json Number(const std::optional<double>& value) { return value ? Json(*value) : Json(nullptr); }

Json MeasuresJson(const AgreementMeasures& measures) {
    Json object = Json::object();
    for (const MeasureField& field : kMeasureFields)
        object[field.key] = Number(measures.*field.field);
    return object;
}

Json ScopesJson(const PairAgreement& pair, Json object) {
    object["overall"] = MeasuresJson(pair.overall);
    object["per_category"] = Json::object();
    for (const auto& [name, m] : pair.perCategory) object["per_category"][name] = MeasuresJson(m);
    object["per_folder"] = Json::object();
    for (const auto& [name, m] : pair.perFolder) object["per_folder"][name] = MeasuresJson(m);
    return object;
}

std::string FixedText(const std::optional<double>& value) {
    if (!value) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", *value);
    return text;
}

std::string ScopeTable(const PairAgreement& pair) {
    std::vector<std::pair<std::string, const AgreementMeasures*>> rows{{"overall", &pair.overall}};
    for (const auto& [name, m] : pair.perCategory) rows.push_back({"category " + name, &m});
    if (pair.perFolder.size() > 1) {
        for (const auto& [name, m] : pair.perFolder) rows.push_back({"folder " + name, &m});
    }
    std::size_t width = 5;
    for (const auto& row : rows) width = std::max(width, Characters(row.first));
    std::string text = "  " + Padded("", width);
    for (const MeasureField& field : kMeasureFields) text += Padded(field.key, 12, true);
    text += "\n";
    for (const auto& [name, measures] : rows) {
        text += "  " + Padded(name, width);
        for (const MeasureField& field : kMeasureFields) {
            text += Padded(FixedText(measures->*field.field), 12, true);
        }
        text += "\n";
    }
    return text;
}

std::string PairTitle(const AgreementReport& report, const PairAgreement& pair) {
    return report.raters[pair.a] + " (a) against " + report.raters[pair.b] + " (b)";
}

}  // namespace

std::string AgreementJson(const AgreementReport& report, int indent) {
    Json json;
    json["raters"] = report.raters;
    json["frames"] = report.frames;
    json["unmatched_frames"] = report.unmatchedFrames;
    json["pairs"] = Json::array();
    for (const PairAgreement& pair : report.pairs) {
        json["pairs"].push_back(
            ScopesJson(pair, Json{{"a", report.raters[pair.a]}, {"b", report.raters[pair.b]}}));
    }
    if (report.meanOfPairs) {
        json["fleiss_kappa"] = Json::object();
        for (const auto& [name, kappa] : report.fleissKappa)
            json["fleiss_kappa"][name] = Number(kappa);
        json["mean_of_pairs"] = ScopesJson(*report.meanOfPairs, Json::object());
    }
    if (report.consensus == ConsensusMethod::Staple) {
        json["staple"] = Json::object();
        for (const auto& [name, estimates] : report.staple) {
            Json list = Json::array();
            for (std::size_t r = 0; r < estimates.size(); ++r) {
                list.push_back({{"rater", report.raters[r]},
                                {"sensitivity", Number(estimates[r].sensitivity)},
                                {"specificity", Number(estimates[r].specificity)}});
            }
            json["staple"][name] = list;
        }
    }
    return json.dump(indent);
}

std::string AgreementTable(const AgreementReport& report) {
    std::string text = "Frames compared: " + std::to_string(report.frames) + "\n";
    if (!report.unmatchedFrames.empty()) {
        text += "Frames not in every folder, left out: " +
                std::to_string(report.unmatchedFrames.size()) + "\n";
        for (const std::string& path : report.unmatchedFrames) text += "  " + path + "\n";
    }
    for (const PairAgreement& pair : report.pairs) {
        text += "\n" + PairTitle(report, pair) + "\n" + ScopeTable(pair);
    }
    if (report.meanOfPairs) {
        text += "\nMean over the pairs\n" + ScopeTable(*report.meanOfPairs);
        text += "\nFleiss' kappa of presence\n";
        for (const auto& [name, kappa] : report.fleissKappa) {
            text += "  " + name + ": " + FixedText(kappa) + "\n";
        }
    }
    if (report.consensus == ConsensusMethod::Staple) {
        text += "\nSTAPLE estimates (sensitivity, specificity)\n";
        for (const auto& [name, estimates] : report.staple) {
            text += "  " + name + "\n";
            for (std::size_t r = 0; r < estimates.size(); ++r) {
                text += "    " + report.raters[r] + ": " + FixedText(estimates[r].sensitivity) +
                        ", " + FixedText(estimates[r].specificity) + "\n";
            }
        }
    }
    return text;
}

}  // namespace annoxml
