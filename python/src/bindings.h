// What the parts of the extension module share.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "annoxml/frame.h"

namespace annoxml::python {

// Frame, Region, Mark, Label, Mask, read_frame and convert.
void BindFrames(pybind11::module_& module);
// Study and its items.
void BindStudy(pybind11::module_& module);

// A read-only (N, 2) float64 view of the points, alive as long as `owner`.
pybind11::array PointsView(const std::vector<Point>& points, pybind11::handle owner);

// Raises annoxml.FrameError (message "SOURCE: DETAIL", .source, .detail).
[[noreturn]] void RaiseFrameError(const std::string& source, const std::string& detail);

}  // namespace annoxml::python
