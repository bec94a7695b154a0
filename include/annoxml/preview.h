// Static HTML pages that draw every shape of many frames in inline SVG, with an index of
// statistics, categories, pages and failed files. No network, no scripts, no external files.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "annoxml/export.h"
#include "annoxml/frame.h"
#include "annoxml/stats.h"

namespace annoxml {

// One frame as an <svg> element in image coordinates (viewBox="0 0 width height"): regions filled
// translucent in their label's colour, marks with their measures, a <title> on every shape.
// `background`: a neutral rectangle of the image's size under the shapes, for frames whose image
// is not shown. Stroke widths and text outlines come from the page's style sheet.
ANNOXML_API std::string RenderFrameSvg(const Frame& frame, bool background = true);

struct PreviewOptions {
    std::string outDir;     // created when missing
    std::string imagesDir;  // "" : images are looked for beside each annotation file only
    std::size_t pageSize = 100;
    // Replace a non-empty outDir that this tool did not write, instead of refusing it.
    bool force = false;
};

// Writes DIR/page-0001.html, ... as frames are added (in display order) and DIR/index.html on
// Finish(). The folder is replaced as a whole: pages are written into a new folder beside it,
// which Finish() puts in its place, so a writer destroyed before Finish() leaves DIR as it was.
class ANNOXML_API PreviewWriter {
  public:
    // Throws std::runtime_error when outDir cannot be replaced: a non-empty folder this tool did
    // not write (unless `force`), or not a folder.
    explicit PreviewWriter(PreviewOptions options);
    ~PreviewWriter();
    PreviewWriter(const PreviewWriter&) = delete;
    PreviewWriter& operator=(const PreviewWriter&) = delete;

    // The frame's image is found by FindFrameImage, with its data-set file name ("" : its
    // image's file name alone).
    void Add(const Frame& frame, const std::string& datasetFileName = "");
    void AddFailure(const std::string& path, const std::string& message);
    void Finish();

    const Statistics& statistics() const;
    std::size_t pages() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace annoxml
