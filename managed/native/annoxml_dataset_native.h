// C boundary of libannoxml's whole-study operations for the .NET façade's AnnotationDataset (and
// any other foreign-function caller): build a COCO data set, check a study, write masks, write
// YOLO labels, each over a study handle that holds the inputs, the catalog options, the number of
// threads, a progress callback and a cancellation request.
//
// Conventions of annoxml_native.h: strings are UTF-8 bytes with an explicit size, no C++
// exception passes, owned objects have free functions that accept NULL. A failure returns the
// kind of the native exception (annoxml_status) or ANNOXML_CANCELLED, and stores owned copies of
// the file it concerns ("" when it concerns none) in *error_file and of its message (without the
// file) in *error_message, each freed with annoxml_error_message_free; either pointer argument
// may be NULL. On success both are set to NULL.
//
// A run reads the inputs in order on the study's threads, as the tool's dataset, check, masks
// and yolo commands do, and writes its output only when it is complete: a cancelled run, or a
// run that stops at a failed file, leaves the output path or folder as it was.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "annoxml/export.h"
#include "annoxml_native.h"

#ifdef __cplusplus
extern "C" {
#endif

// Returned by a run that was cancelled (annoxml_study_cancel); nothing was written.
#define ANNOXML_CANCELLED ((annoxml_status)5)

typedef struct annoxml_study annoxml_study;
typedef struct annoxml_study_result annoxml_study_result;

typedef enum annoxml_severity {
    ANNOXML_SEVERITY_ERROR = 0,
    ANNOXML_SEVERITY_WARNING = 1
} annoxml_severity;

// Called on the thread that started the run: once when the inputs are listed (done 0), then after
// each file, with the files done and the files listed.
typedef void (*annoxml_progress_callback)(void* context, size_t done, size_t total);

// A study without inputs, with the default catalog: categories from the labels, no splits, seed
// 0, splits per file, one thread per hardware thread, stopping at the first failed file. NULL
// when memory is short.
ANNOXML_C_API annoxml_study* annoxml_study_new(void);
ANNOXML_C_API void annoxml_study_free(annoxml_study* study);

// An annotation file, or a folder searched for *.xml (sorted by path), in run order.
ANNOXML_C_API annoxml_status annoxml_study_add_input(annoxml_study* study, const char* path,
                                                     size_t path_size, char** error_message);
// Reads the label OLD as NEW before categories are resolved. An empty OLD is invalid.
ANNOXML_C_API annoxml_status annoxml_study_add_rename(annoxml_study* study, const char* old_name,
                                                      size_t old_size, const char* new_name,
                                                      size_t new_size, char** error_message);
// Appends to a fixed category list, which keeps its ids; a label outside it fails its file.
// Repeated ids or names fail the run.
ANNOXML_C_API annoxml_status annoxml_study_add_category(annoxml_study* study, int id,
                                                        const char* name, size_t name_size,
                                                        const char* supercategory,
                                                        size_t supercategory_size,
                                                        char** error_message);
// Split shares as the tool's --split takes them: "train=0.8,val=0.2" ("" for none).
ANNOXML_C_API annoxml_status annoxml_study_set_splits(annoxml_study* study, const char* text,
                                                      size_t text_size, char** error_message);
ANNOXML_C_API void annoxml_study_set_seed(annoxml_study* study, uint64_t seed);
// Nonzero: frames are assigned to splits per folder (one recording stays in one split).
ANNOXML_C_API void annoxml_study_set_group_by_folder(annoxml_study* study, int by_folder);
// Files read at the same time; 0 for one per hardware thread.
ANNOXML_C_API void annoxml_study_set_threads(annoxml_study* study, unsigned threads);
// Zero (the default): an export stops at the first file that fails and fails with it, writing
// nothing. Nonzero: as the tool, failed files are left out and listed in the result.
ANNOXML_C_API void annoxml_study_set_keep_going(annoxml_study* study, int keep_going);
ANNOXML_C_API void annoxml_study_set_progress(annoxml_study* study,
                                              annoxml_progress_callback callback, void* context);
// Asks a run under way, or the next one, to stop: reads under way finish, nothing is written,
// and the run returns ANNOXML_CANCELLED. Safe on any thread while the study lives.
ANNOXML_C_API void annoxml_study_cancel(annoxml_study* study);

// `annoxml dataset`: one COCO instances file at `output`, or one per split ("_NAME" before the
// extension). indent < 0: compact; otherwise pretty with that many spaces per level.
ANNOXML_C_API annoxml_status annoxml_WriteDataset(annoxml_study* study, const char* output,
                                                  size_t output_size, int indent,
                                                  annoxml_study_result** result, char** error_file,
                                                  char** error_message);

// `annoxml check`: every finding of every file, in the order of check --json, as the result's
// findings. A file with errors does not fail the call. Writes nothing.
ANNOXML_C_API annoxml_status annoxml_CheckStudy(annoxml_study* study, annoxml_study_result** result,
                                                char** error_file, char** error_message);

// `annoxml masks`: mode 0 binary, 1 category, 2 instance. `labels` holds label_count names one
// after another, label_sizes their sizes (paint only these categories; none: all). force:
// replace a non-empty folder that annoxml did not write.
ANNOXML_C_API annoxml_status annoxml_WriteMasks(annoxml_study* study, const char* out_dir,
                                                size_t out_dir_size, int mode, const char* labels,
                                                const size_t* label_sizes, size_t label_count,
                                                int force, annoxml_study_result** result,
                                                char** error_file, char** error_message);

// `annoxml yolo`: task 0 detect, 1 segment. images_dir NULL: labels and data.yaml only;
// otherwise each frame's image is linked (copied with copy_images) into images/<split>/.
ANNOXML_C_API annoxml_status annoxml_WriteYolo(annoxml_study* study, const char* out_dir,
                                               size_t out_dir_size, int task,
                                               const char* images_dir, size_t images_dir_size,
                                               int copy_images, int force,
                                               annoxml_study_result** result, char** error_file,
                                               char** error_message);

// What a run did: files converted (read and used), failed, and not started; for a check, the
// errors and warnings found. NULL pointers are skipped.
ANNOXML_C_API void annoxml_study_result_counts(const annoxml_study_result* result,
                                               size_t* converted, size_t* failed, size_t* errors,
                                               size_t* warnings);
// The findings: of a check, every one; of an export with keep_going, one error per failed file.
ANNOXML_C_API size_t annoxml_study_result_size(const annoxml_study_result* result);
// Strings are borrowed from the result. An index past the end yields 0 sizes, NULL pointers and
// ANNOXML_SEVERITY_ERROR.
ANNOXML_C_API void annoxml_study_result_finding(const annoxml_study_result* result, size_t index,
                                                const char** file, size_t* file_size,
                                                annoxml_severity* severity, const char** message,
                                                size_t* message_size);
ANNOXML_C_API void annoxml_study_result_free(annoxml_study_result* result);

#ifdef __cplusplus
}
#endif
