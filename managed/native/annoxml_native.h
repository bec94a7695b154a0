// C boundary of libannoxml for the .NET façade (and any other foreign-function caller).
//
// Every operation takes its paths as UTF-8 bytes with an explicit size, calls the native path
// form of the function of the same name, and never lets a C++ exception out. It returns
// ANNOXML_OK and stores an owned result, or returns the kind of the native exception and stores
// an owned copy of its what() text in *error_message (NULL if even that copy could not be made).
// Every owned object has a free function; NULL may be passed to each of them.
//
// Results are opaque: FieldMap, FieldMapList and AnnotationTable are read through the accessors
// below, entries in the native iteration order (ascending byte-wise key order for maps and the
// table, document order for lists). Strings returned by accessors are borrowed from their owner
// and valid until it is freed; their sizes count the bytes up to the first zero byte.
#pragma once

#include <stddef.h>

#include "annoxml/export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum annoxml_status {
    ANNOXML_OK = 0,
    ANNOXML_RUNTIME_ERROR = 1,     // std::runtime_error and its descendants
    ANNOXML_OUT_OF_RANGE = 2,      // std::out_of_range
    ANNOXML_INVALID_ARGUMENT = 3,  // std::invalid_argument
    ANNOXML_OTHER_ERROR = 4        // any other exception
} annoxml_status;

typedef struct annoxml_field_map annoxml_field_map;                // FieldMap
typedef struct annoxml_field_map_list annoxml_field_map_list;      // FieldMapList
typedef struct annoxml_annotation_table annoxml_annotation_table;  // AnnotationTable

// Header sections.
ANNOXML_C_API annoxml_status annoxml_ParseImageInformation(const char* path, size_t path_size,
                                                           annoxml_field_map** result,
                                                           char** error_message);
ANNOXML_C_API annoxml_status annoxml_ParseUserInformation(const char* path, size_t path_size,
                                                          annoxml_field_map** result,
                                                          char** error_message);

// The list readers: header lists and the fifteen shape kinds.
#define ANNOXML_DECLARE_LIST_READER(name)        \
    ANNOXML_C_API annoxml_status annoxml_##name( \
        const char* path, size_t path_size, annoxml_field_map_list** result, char** error_message)
ANNOXML_DECLARE_LIST_READER(ParseLabelList);
ANNOXML_DECLARE_LIST_READER(ParseMask);
ANNOXML_DECLARE_LIST_READER(ParseRectangleAnnotations);
ANNOXML_DECLARE_LIST_READER(ParseCircleAnnotations);
ANNOXML_DECLARE_LIST_READER(ParseEllipseAnnotations);
ANNOXML_DECLARE_LIST_READER(ParsePolygonAnnotations);
ANNOXML_DECLARE_LIST_READER(ParseFreehandContourAnnotations);
ANNOXML_DECLARE_LIST_READER(ParseLineAnnotations);
ANNOXML_DECLARE_LIST_READER(ParseRulerAnnotations);
ANNOXML_DECLARE_LIST_READER(ParseTextAnnotations);
ANNOXML_DECLARE_LIST_READER(ParseArrowTextAnnotations);
ANNOXML_DECLARE_LIST_READER(ParsePolyLineAnnotations);
ANNOXML_DECLARE_LIST_READER(ParseFreehandPolyLineAnnotations);
ANNOXML_DECLARE_LIST_READER(ParseAngleAnnotations);
ANNOXML_DECLARE_LIST_READER(ParsePointObjectAnnotations);
ANNOXML_DECLARE_LIST_READER(ParseCobbAngleAnnotations);
ANNOXML_DECLARE_LIST_READER(ParseDeviationAnnotations);
#undef ANNOXML_DECLARE_LIST_READER

ANNOXML_C_API annoxml_status annoxml_GetAllAnnotations(const char* path, size_t path_size,
                                                       annoxml_annotation_table** result,
                                                       char** error_message);

ANNOXML_C_API annoxml_status annoxml_GenerateCOCOJson(const char* path, size_t path_size,
                                                      const char* output_path,
                                                      size_t output_path_size,
                                                      char** error_message);

// Accessors. An index past the end yields 0 sizes and NULL pointers.
ANNOXML_C_API size_t annoxml_field_map_size(const annoxml_field_map* map);
ANNOXML_C_API void annoxml_field_map_entry(const annoxml_field_map* map, size_t index,
                                           const char** key, size_t* key_size, const char** value,
                                           size_t* value_size);
ANNOXML_C_API size_t annoxml_field_map_list_size(const annoxml_field_map_list* list);
ANNOXML_C_API const annoxml_field_map* annoxml_field_map_list_at(const annoxml_field_map_list* list,
                                                                 size_t index);
ANNOXML_C_API size_t annoxml_annotation_table_size(const annoxml_annotation_table* table);
ANNOXML_C_API void annoxml_annotation_table_entry(const annoxml_annotation_table* table,
                                                  size_t index, const char** kind,
                                                  size_t* kind_size,
                                                  const annoxml_field_map_list** list);

// Release functions.
ANNOXML_C_API void annoxml_field_map_free(annoxml_field_map* map);
ANNOXML_C_API void annoxml_field_map_list_free(annoxml_field_map_list* list);
ANNOXML_C_API void annoxml_annotation_table_free(annoxml_annotation_table* table);
ANNOXML_C_API void annoxml_error_message_free(char* error_message);

#ifdef __cplusplus
}
#endif
