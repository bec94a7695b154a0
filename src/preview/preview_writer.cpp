#include <filesystem>
#include <stdexcept>

#include "annoxml/dataset.h"
#include "annoxml/preview.h"
#include "preview/image_lookup.h"
#include "preview/pages.h"
#include "util/atomic_file.h"
#include "util/export_folder.h"

namespace annoxml {
namespace fs = std::filesystem;

struct PreviewWriter::State {
    PreviewOptions options;
    std::unique_ptr<detail::ExportFolder> folder;
    Statistics statistics;
    std::vector<detail::PageEntry> pages;
    std::unique_ptr<detail::OutputFile> page;  // the page being filled, not yet committed
    std::size_t frames = 0;

    std::string PagePath(std::size_t number) const {
        return (folder->staging() / detail::PageFileName(number)).string();
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
};

PreviewWriter::PreviewWriter(PreviewOptions options) : state_(std::make_unique<State>()) {
    if (options.pageSize == 0) throw std::invalid_argument("The page size must be at least 1");
    state_->folder = std::make_unique<detail::ExportFolder>(options.outDir, options.force);
    state_->options = std::move(options);
}

PreviewWriter::~PreviewWriter() = default;

void PreviewWriter::Add(const Frame& frame, const std::string& datasetFileName) {
    State& state = *state_;
    if (state.page && state.pages.back().frames == state.options.pageSize) state.ClosePage(true);
    if (!state.page) state.OpenPage();
    const std::string fileName =
        datasetFileName.empty() ? std::string(ImageFileName(frame.fileName)) : datasetFileName;
    const std::optional<std::string> image =
        FindFrameImage(frame, fileName, state.options.imagesDir);
    // The staging folder lies beside the output folder: links from it hold from there too.
    const std::string link = image ? detail::RelativeLink(*image, state.folder->staging()) : "";
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
    detail::WriteFileAtomically((state_->folder->staging() / "index.html").string(),
                                detail::IndexPage(state_->statistics, state_->pages));
    state_->folder->Commit();
}

const Statistics& PreviewWriter::statistics() const { return state_->statistics; }

std::size_t PreviewWriter::pages() const { return state_->pages.size(); }

}  // namespace annoxml
