#include <algorithm>
#include <numeric>

#include <nlohmann/json.hpp>

#include "annoxml/stats.h"

namespace annoxml {

const std::array<ShapeKind, kShapeKindCount>& AllShapeKinds() {
    static const std::array<ShapeKind, kShapeKindCount> kinds = [] {
        std::array<ShapeKind, kShapeKindCount> all{};
        for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<ShapeKind>(i);
        return all;
    }();
    return kinds;
}

CategoryCount& Statistics::Category(const std::string& name) {
    const auto [found, inserted] = categoryIndex_.emplace(name, categories_.size());
    if (inserted) categories_.push_back({name, "", 0});
    return categories_[found->second];
}

void Statistics::Add(const Frame& frame) {
    ++frames_;
    if (frame.regions.empty()) ++framesWithoutRegions_;
    masks_ += frame.masks.size();
    for (const Label& label : frame.labels) {
        CategoryCount& category = Category(label.name);
        if (category.color.empty()) category.color = label.color;
    }
    for (const Region& region : frame.regions) {
        ++shapes_[static_cast<std::size_t>(region.kind)];
        ++Category(region.label).regions;
        if (region.mask) ++regionsInMasks_;
    }
    for (const Mark& mark : frame.marks) ++shapes_[static_cast<std::size_t>(mark.kind)];
}

void Statistics::AddFailure(std::string path, std::string message) {
    failures_.push_back({std::move(path), std::move(message)});
}

std::size_t Statistics::regions() const {
    std::size_t total = 0;
    for (ShapeKind kind : AllShapeKinds()) {
        if (HasArea(kind)) total += shapes(kind);
    }
    return total;
}

std::size_t Statistics::marks() const {
    return std::accumulate(shapes_.begin(), shapes_.end(), std::size_t{0}) - regions();
}

std::vector<SummaryCount> StatisticsSummary(const Statistics& statistics) {
    return {
        {"frames", "frames", statistics.frames()},
        {"frames_without_regions", "without regions", statistics.framesWithoutRegions()},
        {"regions", "regions", statistics.regions()},
        {"marks", "marks", statistics.marks()},
        {"masks", "masks", statistics.masks()},
        {"regions_in_masks", "regions in masks", statistics.regionsInMasks()},
        {"failures", "failed files", statistics.failures().size()},
    };
}

std::string StatisticsJson(const Statistics& statistics, int indent) {
    nlohmann::ordered_json shapes = nlohmann::ordered_json::object();
    for (ShapeKind kind : AllShapeKinds()) shapes[KindName(kind)] = statistics.shapes(kind);
    nlohmann::ordered_json categories = nlohmann::ordered_json::array();
    for (const CategoryCount& category : statistics.categories()) {
        categories.push_back(
            {{"name", category.name}, {"color", category.color}, {"regions", category.regions}});
    }
    nlohmann::ordered_json failed = nlohmann::ordered_json::array();
    for (const FailedFile& failure : statistics.failures()) {
        failed.push_back({{"path", failure.path}, {"message", failure.message}});
    }
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    for (const SummaryCount& summary : StatisticsSummary(statistics)) {
        json[summary.key] = summary.count;
    }
    json["shapes"] = shapes;
    json["categories"] = categories;
    json["failed"] = failed;
    // Replace: a label or a path with bytes that are not UTF-8 must not stop the report.
    return json.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

namespace {

using Row = std::pair<std::string, std::string>;

// Columns in display width: a UTF-8 continuation byte takes no column.
std::size_t DisplayWidth(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string Table(const std::string& title, const std::vector<Row>& rows) {
    std::size_t width = 0;
    for (const Row& row : rows) width = std::max(width, DisplayWidth(row.first));
    std::string text = title + "\n";
    for (const auto& [name, value] : rows) {
        text += "  " + name + std::string(width - DisplayWidth(name) + 2, ' ') + value + "\n";
    }
    return text;
}

}  // namespace

std::string StatisticsTable(const Statistics& statistics) {
    const auto count = [](std::size_t n) { return std::to_string(n); };
    std::vector<Row> summary;
    for (const SummaryCount& row : StatisticsSummary(statistics)) {
        summary.push_back({row.label, count(row.count)});
    }
    std::string text = Table("Frames", summary);
    std::vector<Row> kinds;
    for (ShapeKind kind : AllShapeKinds()) {
        kinds.push_back({KindName(kind), count(statistics.shapes(kind))});
    }
    text += "\n" + Table("Shapes per kind", kinds);
    std::vector<Row> categories;
    for (const CategoryCount& category : statistics.categories()) {
        categories.push_back({category.name, count(category.regions)});
    }
    if (!categories.empty()) text += "\n" + Table("Regions per category", categories);
    if (!statistics.failures().empty()) text += "\nFailed files\n";
    for (const FailedFile& failure : statistics.failures()) {
        text += "  " + failure.path + ": " + failure.message + "\n";
    }
    return text;
}

}  // namespace annoxml
