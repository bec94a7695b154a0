// The extension module annoxml._annoxml: the library's frames, masks, conversion and studies for
// Python. The pure-Python layer (annoxml/__init__.py) checks and normalises arguments; what is
// here trusts that paths are str and options are of the right type.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "bindings.h"

namespace py = pybind11;

PYBIND11_MODULE(_annoxml, module) {
    module.doc() =
        "Compiled core of the annoxml package: reads endoscopy annotation XML files into frames "
        "and writes the exports of the annoxml tool. Use the annoxml package, not this module.";
    annoxml::python::BindFrames(module);
    annoxml::python::BindStudy(module);
}
