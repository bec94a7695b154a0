#include <cstdint>
#include <set>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "annoxml/dataset.h"

namespace annoxml {
namespace {

[[noreturn]] void Fail(std::size_t entry, const std::string& problem) {
    throw std::runtime_error("category " + std::to_string(entry + 1) + ": " + problem);
}

Category CategoryFrom(const nlohmann::json& entry, std::size_t position) {
    if (!entry.is_object()) {
        Fail(position, "not an object");
    }
    const auto id = entry.find("id");
    if (id == entry.end() || !id->is_number_integer() || id->get<long long>() <= 0 ||
        id->get<long long>() > INT32_MAX) {
        Fail(position, "\"id\" must be a positive integer");
    }
    const auto name = entry.find("name");
    if (name == entry.end() || !name->is_string() || name->get<std::string>().empty()) {
        Fail(position, "\"name\" must be a non-empty string");
    }
    Category category;
    category.id = id->get<int>();
    category.name = name->get<std::string>();
    if (const auto super = entry.find("supercategory"); super != entry.end()) {
        if (!super->is_string()) {
            Fail(position, "\"supercategory\" must be a string");
        }
        category.supercategory = super->get<std::string>();
    }
    return category;
}

}  // namespace

std::vector<Category> ParseCategoryList(const std::string& json) {
    const nlohmann::json list = nlohmann::json::parse(json, nullptr, false);
    if (!list.is_array()) {
        throw std::runtime_error("not a JSON array of categories");
    }
    std::vector<Category> categories;
    std::set<int> ids;
    std::set<std::string> names;
    for (std::size_t i = 0; i < list.size(); ++i) {
        Category category = CategoryFrom(list[i], i);
        if (!ids.insert(category.id).second) {
            Fail(i, "id " + std::to_string(category.id) + " is used twice");
        }
        if (!names.insert(category.name).second) {
            Fail(i, "name \"" + category.name + "\" is used twice");
        }
        categories.push_back(std::move(category));
    }
    return categories;
}

}  // namespace annoxml
