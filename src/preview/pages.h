// The HTML of the preview: page frame, one section per frame, the index.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "annoxml/frame.h"
#include "annoxml/stats.h"

namespace annoxml::detail {

// "page-0001.html"
std::string PageFileName(std::size_t page);

// The document head with the style sheet, up to the opening of <body>.
std::string DocumentStart(const std::string& title);
std::string DocumentEnd();

// Links to the index and to the pages before and after `page` (0 for none).
std::string PageNavigation(std::size_t previous, std::size_t next);

// One frame: heading, facts, and the drawing over its image. `imageLink` "" when none was found.
std::string FrameSection(const Frame& frame, std::size_t number, const std::string& imageLink);

struct PageEntry {
    std::size_t firstFrame = 0;  // from 1
    std::size_t frames = 0;
    std::string firstName;
    std::string lastName;
};

std::string IndexPage(const Statistics& statistics, const std::vector<PageEntry>& pages);

}  // namespace annoxml::detail
