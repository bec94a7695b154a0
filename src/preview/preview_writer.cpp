#include <filesystem>
#include <stdexcept>

#include "annoxml/preview.h"
#include "preview/image_lookup.h"
#include "preview/pages.h"
#include "util/atomic_file.h"

namespace annoxml {
namespace fs = std::filesystem;

struct PreviewWriter::State {
    PreviewOptions options;
    Statistics statistics;
    std::vector<detail::PageEntry> pages;
    std::unique_ptr<detail::OutputFile> page;  // the page being filled, not yet committed
    std::size_t frames = 0;

    std::string PagePath(std::size_t number) const {
        return (fs::path(options.outDir) / detail::PageFileName(number)).string();
    }

    void OpenPage() {
        const std::size_t number = pages.size() + 1;
        page = std::make_unique<detail::OutputFile>(PagePath(number));
        pages.push_back({frames + 1, 0, "", ""});
        page->Write(detail::DocumentStart("Annotation preview, page " + std::to_string(number)));
        page->Write(detail::PageNavigation(number - 1, 0));
        page->Write("<h1>Page " + std::to_string(number) + "</h1>\n<main class=\"frames\">\n");
    }

    // The next page is known to exist only once a frame for it arrives.
    void ClosePage(bool more) {
        const std::size_t number = pages.size();
        page->Write("</main>\n");
        page->Write(detail::PageNavigation(number - 1, more ? number + 1 : 0));
        page->Write(detail::DocumentEnd());
        page->Commit();
        page.reset();
    }

    // Pages beyond the last one, left by an earlier run into the same folder.
    void RemoveStalePages() const {
        std::error_code error;
        for (std::size_t number = pages.size() + 1; fs::remove(PagePath(number), error); ++number) {
        }
    }
};

PreviewWriter::PreviewWriter(PreviewOptions options) : state_(std::make_unique<State>()) {
    if (options.pageSize == 0) throw std::invalid_argument("The page size must be at least 1");
    std::error_code error;
    fs::create_directories(options.outDir, error);
    if (error) throw std::runtime_error("Cannot create " + options.outDir + ": " + error.message());
    state_->options = std::move(options);
}

PreviewWriter::~PreviewWriter() = default;

void PreviewWriter::Add(const Frame& frame) {
    State& state = *state_;
    if (state.page && state.pages.back().frames == state.options.pageSize) state.ClosePage(true);
    if (!state.page) state.OpenPage();
    const std::optional<fs::path> image = detail::FindImage(frame, state.options.imagesDir);
    const std::string link = image ? detail::RelativeLink(*image, state.options.outDir) : "";
    state.page->Write(detail::FrameSection(frame, ++state.frames, link));
    detail::PageEntry& entry = state.pages.back();
    if (entry.frames++ == 0) entry.firstName = frame.fileName;
    entry.lastName = frame.fileName;
    state.statistics.Add(frame);
}

void PreviewWriter::AddFailure(const std::string& path, const std::string& message) {
    state_->statistics.AddFailure(path, message);
}

void PreviewWriter::Finish() {
    if (state_->page) state_->ClosePage(false);
    state_->RemoveStalePages();
    detail::WriteFileAtomically((fs::path(state_->options.outDir) / "index.html").string(),
                                detail::IndexPage(state_->statistics, state_->pages));
}

const Statistics& PreviewWriter::statistics() const { return state_->statistics; }

std::size_t PreviewWriter::pages() const { return state_->pages.size(); }

}  // namespace annoxml
