// Python objects for the provenance an engine records (EphemerisMetadata),
// built the same way by tarvex's KernelMetadata and by the companion
// module's Store, which compiles this file in as well.
#pragma once

#include <Python.h>

#include <string_view>

#include "core/types.hpp"

namespace tarvex::python {

// A str as a Python object; nullptr with MemoryError.
PyObject* new_text(std::string_view text);

// [(name, sha256), ...] of the additional kernels, in attachment order.
PyObject* additional_kernel_list(const core::EphemerisMetadata& metadata);

// {"engine_version", "kernel_name", "kernel_sha256", "coordinate_frame",
// "additional_kernels"}, in that insertion order.
PyObject* metadata_dict(const core::EphemerisMetadata& metadata);

}  // namespace tarvex::python
