#include "annoxml_native.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "annoxml/coco.h"
#include "annoxml/reader.h"

// The opaque handle types are never defined: a handle is the address of the native container
// itself, cast on the way in and out.

namespace {

const FieldMap* Native(const annoxml_field_map* map) {
    return reinterpret_cast<const FieldMap*>(map);
}
const FieldMapList* Native(const annoxml_field_map_list* list) {
    return reinterpret_cast<const FieldMapList*>(list);
}
const AnnotationTable* Native(const annoxml_annotation_table* table) {
    return reinterpret_cast<const AnnotationTable*>(table);
}

annoxml_field_map* Handle(FieldMap* map) { return reinterpret_cast<annoxml_field_map*>(map); }
annoxml_field_map_list* Handle(FieldMapList* list) {
    return reinterpret_cast<annoxml_field_map_list*>(list);
}
annoxml_annotation_table* Handle(AnnotationTable* table) {
    return reinterpret_cast<annoxml_annotation_table*>(table);
}

// An owned copy of `text` for the caller, NULL when memory is short.
char* CopyMessage(const char* text) noexcept {
    const size_t size = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(size + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text, size + 1);
    }
    return copy;
}

annoxml_status Fail(annoxml_status status, const char* text, char** error_message) noexcept {
    if (error_message != nullptr) {
        *error_message = CopyMessage(text);
    }
    return status;
}

// Runs `call`, turning every exception into its kind and message.
template <typename Call>
annoxml_status Guard(char** error_message, Call&& call) noexcept {
    if (error_message != nullptr) {
        *error_message = nullptr;
    }
    try {
        call();
        return ANNOXML_OK;
    } catch (const std::invalid_argument& error) {
        return Fail(ANNOXML_INVALID_ARGUMENT, error.what(), error_message);
    } catch (const std::out_of_range& error) {
        return Fail(ANNOXML_OUT_OF_RANGE, error.what(), error_message);
    } catch (const std::runtime_error& error) {
        return Fail(ANNOXML_RUNTIME_ERROR, error.what(), error_message);
    } catch (const std::exception& error) {
        return Fail(ANNOXML_OTHER_ERROR, error.what(), error_message);
    } catch (...) {
        return Fail(ANNOXML_OTHER_ERROR, "unknown exception", error_message);
    }
}

std::string PathArgument(const char* path, size_t size) {
    if (path == nullptr) {
        throw std::invalid_argument("annoxml: a path argument is NULL");
    }
    return std::string(path, size);
}

// Calls the path form `read` and hands its result out as a new object.
template <typename Result, typename HandleType, typename Read>
annoxml_status ReadInto(const char* path, size_t path_size, HandleType** result,
                        char** error_message, Read read) noexcept {
    if (result != nullptr) {
        *result = nullptr;
    }
    return Guard(error_message, [&] {
        if (result == nullptr) {
            throw std::invalid_argument("annoxml: the result argument is NULL");
        }
        auto value = std::make_unique<Result>(read(PathArgument(path, path_size)));
        *result = Handle(value.release());
    });
}

template <typename Map>
typename Map::const_iterator EntryAt(const Map* map, size_t index) {
    return std::next(map->begin(), static_cast<typename Map::difference_type>(index));
}

void SetString(const std::string* text, const char** data, size_t* size) {
    if (data != nullptr) {
        *data = text != nullptr ? text->c_str() : nullptr;
    }
    if (size != nullptr) {
        *size = text != nullptr ? std::strlen(text->c_str()) : 0;
    }
}

}  // namespace

extern "C" {

annoxml_status annoxml_ParseImageInformation(const char* path, size_t path_size,
                                             annoxml_field_map** result, char** error_message) {
    return ReadInto<FieldMap>(path, path_size, result, error_message,
                              [](const std::string& p) { return ParseImageInformation(p); });
}

annoxml_status annoxml_ParseUserInformation(const char* path, size_t path_size,
                                            annoxml_field_map** result, char** error_message) {
    return ReadInto<FieldMap>(path, path_size, result, error_message,
                              [](const std::string& p) { return ParseUserInformation(p); });
}

#define ANNOXML_DEFINE_LIST_READER(name)                                                   \
    annoxml_status annoxml_##name(const char* path, size_t path_size,                      \
                                  annoxml_field_map_list** result, char** error_message) { \
        return ReadInto<FieldMapList>(path, path_size, result, error_message,              \
                                      [](const std::string& p) { return name(p); });       \
    }
ANNOXML_DEFINE_LIST_READER(ParseLabelList)
ANNOXML_DEFINE_LIST_READER(ParseMask)
ANNOXML_DEFINE_LIST_READER(ParseRectangleAnnotations)
ANNOXML_DEFINE_LIST_READER(ParseCircleAnnotations)
ANNOXML_DEFINE_LIST_READER(ParseEllipseAnnotations)
ANNOXML_DEFINE_LIST_READER(ParsePolygonAnnotations)
ANNOXML_DEFINE_LIST_READER(ParseFreehandContourAnnotations)
ANNOXML_DEFINE_LIST_READER(ParseLineAnnotations)
ANNOXML_DEFINE_LIST_READER(ParseRulerAnnotations)
ANNOXML_DEFINE_LIST_READER(ParseTextAnnotations)
ANNOXML_DEFINE_LIST_READER(ParseArrowTextAnnotations)
ANNOXML_DEFINE_LIST_READER(ParsePolyLineAnnotations)
ANNOXML_DEFINE_LIST_READER(ParseFreehandPolyLineAnnotations)
ANNOXML_DEFINE_LIST_READER(ParseAngleAnnotations)
ANNOXML_DEFINE_LIST_READER(ParsePointObjectAnnotations)
ANNOXML_DEFINE_LIST_READER(ParseCobbAngleAnnotations)
ANNOXML_DEFINE_LIST_READER(ParseDeviationAnnotations)
#undef ANNOXML_DEFINE_LIST_READER

annoxml_status annoxml_GetAllAnnotations(const char* path, size_t path_size,
                                         annoxml_annotation_table** result, char** error_message) {
    return ReadInto<AnnotationTable>(path, path_size, result, error_message,
                                     [](const std::string& p) { return GetAllAnnotations(p); });
}

annoxml_status annoxml_GenerateCOCOJson(const char* path, size_t path_size, const char* output_path,
                                        size_t output_path_size, char** error_message) {
    return Guard(error_message, [&] {
        const std::string input = PathArgument(path, path_size);
        const std::string output = PathArgument(output_path, output_path_size);
        GenerateCOCOJson(input, output);
    });
}

size_t annoxml_field_map_size(const annoxml_field_map* map) {
    return map != nullptr ? Native(map)->size() : 0;
}

void annoxml_field_map_entry(const annoxml_field_map* map, size_t index, const char** key,
                             size_t* key_size, const char** value, size_t* value_size) {
    const bool present = map != nullptr && index < Native(map)->size();
    const auto entry = present ? EntryAt(Native(map), index) : FieldMap::const_iterator();
    SetString(present ? &entry->first : nullptr, key, key_size);
    SetString(present ? &entry->second : nullptr, value, value_size);
}

size_t annoxml_field_map_list_size(const annoxml_field_map_list* list) {
    return list != nullptr ? Native(list)->size() : 0;
}

const annoxml_field_map* annoxml_field_map_list_at(const annoxml_field_map_list* list,
                                                   size_t index) {
    if (list == nullptr || index >= Native(list)->size()) {
        return nullptr;
    }
    return reinterpret_cast<const annoxml_field_map*>(&(*Native(list))[index]);
}

size_t annoxml_annotation_table_size(const annoxml_annotation_table* table) {
    return table != nullptr ? Native(table)->size() : 0;
}

void annoxml_annotation_table_entry(const annoxml_annotation_table* table, size_t index,
                                    const char** kind, size_t* kind_size,
                                    const annoxml_field_map_list** list) {
    const bool present = table != nullptr && index < Native(table)->size();
    const auto entry = present ? EntryAt(Native(table), index) : AnnotationTable::const_iterator();
    SetString(present ? &entry->first : nullptr, kind, kind_size);
    if (list != nullptr) {
        *list = present ? reinterpret_cast<const annoxml_field_map_list*>(&entry->second) : nullptr;
    }
}

void annoxml_field_map_free(annoxml_field_map* map) { delete reinterpret_cast<FieldMap*>(map); }

void annoxml_field_map_list_free(annoxml_field_map_list* list) {
    delete reinterpret_cast<FieldMapList*>(list);
}

void annoxml_annotation_table_free(annoxml_annotation_table* table) {
    delete reinterpret_cast<AnnotationTable*>(table);
}

void annoxml_error_message_free(char* error_message) { std::free(error_message); }

}  // extern "C"
