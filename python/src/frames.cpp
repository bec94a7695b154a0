#include <algorithm>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>

#include <pybind11/stl.h>

#include "annoxml/coco.h"
#include "annoxml/masks.h"
#include "annoxml/rle.h"
#include "bindings.h"

namespace py = pybind11;

namespace annoxml::python {
namespace {

static_assert(sizeof(Point) == 2 * sizeof(double), "outlines are viewed as (N, 2) doubles");

// The mask as NumPy: uint8 for an 8-bit image, uint16 for a 16-bit one.
py::array MaskArray(const MaskImage& image) {
    const auto height = static_cast<py::ssize_t>(image.height());
    const auto width = static_cast<py::ssize_t>(image.width());
    if (image.bitDepth() == 16) {
        py::array_t<std::uint16_t> pixels({height, width});
        std::copy(image.row(0), image.row(0) + height * width, pixels.mutable_data());
        return std::move(pixels);
    }
    py::array_t<std::uint8_t> pixels({height, width});
    std::transform(image.row(0), image.row(0) + height * width, pixels.mutable_data(),
                   [](std::uint16_t value) { return static_cast<std::uint8_t>(value); });
    return std::move(pixels);
}

py::array RenderFrameMask(const Frame& frame, const std::string& mode,
                          const std::optional<std::vector<int>>& categoryIds) {
    MaskRequest request;
    try {
        request.mode = ParseMaskMode(mode);
    } catch (const std::invalid_argument&) {
        throw py::value_error("mode: \"" + mode +
                              "\" is not \"binary\", \"category\" or \"instance\"");
    }
    if (categoryIds) {
        if (categoryIds->size() != frame.regions.size()) {
            throw py::value_error("category_ids: " + std::to_string(categoryIds->size()) +
                                  " ids for " + std::to_string(frame.regions.size()) + " regions");
        }
        request.categoryIds = *categoryIds;
    } else if (request.mode == MaskMode::Category) {
        throw py::value_error("category_ids: needed in \"category\" mode");
    } else {
        request.categoryIds.assign(frame.regions.size(), 0);
    }
    for (int id : request.categoryIds) {
        request.largestCategoryId = std::max(request.largestCategoryId, id);
    }
    std::optional<MaskImage> image;
    {
        py::gil_scoped_release released;
        image.emplace(RenderMask(frame, request));  // std::invalid_argument -> ValueError
    }
    return MaskArray(*image);
}

void CheckSize(const Frame& frame) {
    const auto pixels = static_cast<std::uint64_t>(std::max(frame.width, 0)) *
                        static_cast<std::uint64_t>(std::max(frame.height, 0));
    if (frame.width <= 0 || frame.height <= 0 || pixels > MaskImage::kMaxPixels) {
        throw py::value_error(frame.source + ": the frame's size " + std::to_string(frame.width) +
                              "x" + std::to_string(frame.height) + " cannot hold a mask");
    }
}

py::array InstanceMasks(const Frame& frame) {
    CheckSize(frame);
    const auto count = static_cast<py::ssize_t>(frame.regions.size());
    const std::size_t plane = static_cast<std::size_t>(frame.width) * frame.height;
    // numpy.zeros takes zeroed memory from the system (calloc), so the pages outside every
    // region are never written here.
    py::array_t<std::uint8_t> masks = py::module_::import("numpy").attr("zeros")(
        py::make_tuple(count, frame.height, frame.width), "uint8");
    std::uint8_t* data = masks.mutable_data();
    {
        py::gil_scoped_release released;
        for (std::size_t i = 0; i < frame.regions.size(); ++i) {
            std::uint8_t* mask = data + i * plane;
            for (const PixelSpan& span :
                 OutlineSpans(frame.regions[i].outline, frame.width, frame.height)) {
                std::uint8_t* row = mask + static_cast<std::size_t>(span.y) * frame.width;
                std::fill(row + span.begin, row + span.end, std::uint8_t{1});
            }
        }
    }
    return std::move(masks);
}

std::shared_ptr<Frame> ReadFrameFile(const std::string& path) {
    std::string error;
    {
        py::gil_scoped_release released;
        try {
            return std::make_shared<Frame>(ReadFrame(path));
        } catch (const FrameError& failure) {
            error = failure.detail();
        } catch (const std::exception& failure) {
            error = *failure.what() ? failure.what() : "unknown error";
        }
    }
    RaiseFrameError(path, error);
}

// Loading echoes the path to std::cout, as the original conversion always did; Python's own
// standard output is not the place for it.
std::mutex silencedOutput;

void ConvertFile(const std::string& xmlPath, const std::string& jsonPath) {
    std::string error;
    {
        py::gil_scoped_release released;
        const std::lock_guard<std::mutex> lock(silencedOutput);
        std::ostringstream swallowed;
        std::streambuf* original = std::cout.rdbuf(swallowed.rdbuf());
        try {
            GenerateCOCOJson(xmlPath, jsonPath);
        } catch (const std::exception& failure) {
            error = *failure.what() ? failure.what() : "unknown error";
        }
        std::cout.rdbuf(original);
    }
    if (!error.empty()) {
        RaiseFrameError(xmlPath, error);
    }
}

py::tuple BoxTuple(const Box& box) { return py::make_tuple(box.x, box.y, box.width, box.height); }

// A region as Python sees it: its frame and its place there. Holding the frame makes the
// region's outline view and its rle() (which needs the frame's size) work without pybind11's
// per-object keep-alive bookkeeping.
struct RegionHandle {
    std::shared_ptr<const Frame> frame;
    std::size_t index = 0;

    const Region& region() const { return frame->regions[index]; }
};

py::dict RegionRle(const RegionHandle& handle) {
    const Frame& frame = *handle.frame;
    std::string counts;
    {
        py::gil_scoped_release released;
        counts = RleToString(RleFromPolygon(handle.region().outline, frame.height, frame.width));
    }
    py::dict rle;
    rle["size"] = py::cast(std::vector<int>{frame.height, frame.width});
    rle["counts"] = std::move(counts);
    return rle;
}

void BindParts(py::module_& module) {
    py::class_<Label>(module, "Label", "One entry of a frame's label list.")
        .def_readonly("name", &Label::name, "The label's name (LabelType).")
        .def_readonly("color", &Label::color, "The label's colour as written (LabelColor).")
        .def("__repr__", [](const Label& label) {
            return "Label(name=" + py::repr(py::str(label.name)).cast<std::string>() + ")";
        });
    py::class_<Mask>(module, "Mask", "One entry of a frame's mask list.")
        .def_readonly("index", &Mask::index, "The mask's Index.")
        .def_readonly("description", &Mask::description, "The mask's description.")
        .def_readonly("color", &Mask::color, "The mask's colour as written.");
    py::class_<RegionHandle>(module, "Region",
                             "A shape with an area (Rectangle, Polygon, Circle, FreehandContour, "
                             "Ellipse) as an outline in image coordinates.")
        .def_property_readonly(
            "kind", [](const RegionHandle& handle) { return KindName(handle.region().kind); },
            "The shape's element name: \"Polygon\", \"Circle\", ...")
        .def_property_readonly(
            "index", [](const RegionHandle& handle) { return handle.region().index; },
            "The shape's Index as written.")
        .def_property_readonly(
            "label", [](const RegionHandle& handle) { return handle.region().label; },
            "The shape's label (after renames in a study).")
        .def_property_readonly(
            "description", [](const RegionHandle& handle) { return handle.region().description; },
            "The shape's description.")
        .def_property_readonly(
            "color", [](const RegionHandle& handle) { return handle.region().color; },
            "The shape's colour as written.")
        .def_property_readonly(
            "mask", [](const RegionHandle& handle) { return handle.region().mask; },
            "The Index of the Mask the shape belongs to, or None.")
        .def_property_readonly(
            "outline",
            [](py::handle self) {
                return PointsView(self.cast<const RegionHandle&>().region().outline, self);
            },
            "The outline as a read-only float64 array of shape (N, 2), (x, y) per row, not "
            "closed. A view of the frame's memory: no copy is made.")
        .def_property_readonly(
            "area", [](const RegionHandle& handle) { return handle.region().area; },
            "The outline's area in square pixels.")
        .def_property_readonly(
            "box", [](const RegionHandle& handle) { return BoxTuple(handle.region().box); },
            "The outline's tight box (x, y, width, height).")
        .def("rle", &RegionRle,
             "The region as a COCO RLE of its frame's size: {\"size\": [height, width], "
             "\"counts\": str}, rasterised by COCO's own polygon rule (as `annoxml eval` does "
             "for segm), which differs from the pixel-centre rule of Frame.mask.")
        .def("__repr__", [](const RegionHandle& handle) {
            const Region& region = handle.region();
            return std::string("Region(kind=\"") + KindName(region.kind) +
                   "\", index=" + py::repr(py::str(region.index)).cast<std::string>() +
                   ", label=" + py::repr(py::str(region.label)).cast<std::string>() +
                   ", points=" + std::to_string(region.outline.size()) + ")";
        });
    py::class_<Mark>(module, "Mark",
                     "A shape without an area (Line, Ruler, Text, ArrowText, PolyLine, "
                     "FreehandPolyLine, Angle, PointObject, CobbAngle, Deviation), kept for "
                     "drawing.")
        .def_property_readonly(
            "kind", [](const Mark& mark) { return KindName(mark.kind); },
            "The shape's element name: \"Line\", \"Text\", ...")
        .def_readonly("index", &Mark::index, "The shape's Index as written.")
        .def_readonly("label", &Mark::label, "The shape's label.")
        .def_readonly("description", &Mark::description, "The shape's description.")
        .def_readonly("color", &Mark::color, "The shape's colour as written.")
        .def_readonly("text", &Mark::text, "Text's Content or ArrowText's Text; \"\" otherwise.")
        .def_property_readonly(
            "parts",
            [](py::object self) {
                py::list parts;
                for (const std::vector<Point>& part : self.cast<const Mark&>().parts) {
                    parts.append(PointsView(part, self));
                }
                return parts;
            },
            "The shape's point lists, each a read-only float64 array of shape (N, 2).")
        .def("__repr__", [](const Mark& mark) {
            return std::string("Mark(kind=\"") + KindName(mark.kind) +
                   "\", index=" + py::repr(py::str(mark.index)).cast<std::string>() + ")";
        });
}

// A list of the frame's elements, each a view that keeps the frame alive.
template <typename Element>
py::list Views(py::object frame, const std::vector<Element>& elements) {
    py::list list;
    for (const Element& element : elements) {
        list.append(py::cast(&element, py::return_value_policy::reference_internal, frame));
    }
    return list;
}

// The frame's regions, each a handle that holds the frame.
py::list Regions(const std::shared_ptr<const Frame>& frame) {
    py::list list(frame->regions.size());
    for (std::size_t i = 0; i < frame->regions.size(); ++i) {
        PyList_SET_ITEM(list.ptr(), static_cast<py::ssize_t>(i),
                        py::cast(RegionHandle{frame, i}).release().ptr());
    }
    return list;
}

}  // namespace

py::array PointsView(const std::vector<Point>& points, py::handle owner) {
    static const double kNoPoints[2] = {0, 0};
    const double* data =
        points.empty() ? kNoPoints : reinterpret_cast<const double*>(points.data());
    py::array_t<double> view(
        {static_cast<py::ssize_t>(points.size()), py::ssize_t{2}},
        {static_cast<py::ssize_t>(sizeof(Point)), static_cast<py::ssize_t>(sizeof(double))}, data,
        owner);
    py::detail::array_proxy(view.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return std::move(view);
}

void RaiseFrameError(const std::string& source, const std::string& detail) {
    const py::object frameError = py::module_::import("annoxml._errors").attr("FrameError");
    PyErr_SetObject(frameError.ptr(), frameError(source + ": " + detail, source, detail).ptr());
    throw py::error_already_set();
}

void BindFrames(py::module_& module) {
    BindParts(module);
    py::class_<Frame, std::shared_ptr<Frame>>(
        module, "Frame",
        "One annotation file: image information, user, label and mask lists, and its shapes as "
        "regions (with an area) and marks (without).")
        .def_readonly("source", &Frame::source, "The path the frame was read from.")
        .def_readonly("file_name", &Frame::fileName, "The image's file name (FileName).")
        .def_readonly("width", &Frame::width, "The image's width in pixels.")
        .def_readonly("height", &Frame::height, "The image's height in pixels.")
        .def_readonly("user", &Frame::user, "The annotating user (UserID).")
        .def_readonly("captured", &Frame::captured, "The user's Time as written.")
        .def_property_readonly(
            "labels", [](py::object self) { return Views(self, self.cast<const Frame&>().labels); },
            "The label list: Label objects (name, color).")
        .def_property_readonly(
            "masks", [](py::object self) { return Views(self, self.cast<const Frame&>().masks); },
            "The mask list: Mask objects (index, description, color).")
        .def_property_readonly(
            "regions",
            [](py::handle self) { return Regions(self.cast<std::shared_ptr<const Frame>>()); },
            "The shapes with an area, in document order.")
        .def_property_readonly(
            "marks", [](py::object self) { return Views(self, self.cast<const Frame&>().marks); },
            "The shapes without an area, in document order.")
        .def("mask", &RenderFrameMask, py::arg("mode") = "binary",
             py::arg("category_ids") = py::none(),
             "The regions painted into one (height, width) image, as `annoxml masks` writes it.\n\n"
             "mode: \"binary\" (uint8, 255 on any region), \"category\" (each region's id from\n"
             "category_ids; uint8, uint16 when an id exceeds 255) or \"instance\" (uint16, the\n"
             "region's number from 1). Later regions cover earlier ones. category_ids: one id\n"
             "per region, as a Study item's category_ids.")
        .def("instance_masks", &InstanceMasks,
             "One uint8 mask per region, shape (regions, height, width): 1 inside the region "
             "by the pixel-centre rule, 0 outside.")
        .def("__repr__", [](const Frame& frame) {
            return "Frame(source=" + py::repr(py::str(frame.source)).cast<std::string>() +
                   ", file_name=" + py::repr(py::str(frame.fileName)).cast<std::string>() +
                   ", width=" + std::to_string(frame.width) +
                   ", height=" + std::to_string(frame.height) +
                   ", regions=" + std::to_string(frame.regions.size()) +
                   ", marks=" + std::to_string(frame.marks.size()) + ")";
        });
    module.def("read_frame", &ReadFrameFile, py::arg("path"),
               "Reads one annotation file. Raises FrameError when it cannot be read.");
    module.def(
        "region_left_out",
        [](const RegionHandle& handle, int width, int height) -> std::optional<std::string> {
            const std::optional<LeftOutReason> reason =
                RegionLeftOut(handle.region(), width, height);
            if (!reason) return std::nullopt;
            return *reason == LeftOutReason::ZeroArea ? "zero-area" : "outside the image";
        },
        py::arg("region"), py::arg("width"), py::arg("height"),
        "Why every export leaves the region out of a width x height frame (\"zero-area\" or "
        "\"outside the image\"), or None when it counts. Study items hold only the regions "
        "that count.");
    module.def("convert", &ConvertFile, py::arg("xml_path"), py::arg("json_path"),
               "Writes the per-file JSON of one annotation file, as `annoxml convert`. Raises "
               "FrameError when it cannot be converted.");
}

}  // namespace annoxml::python
