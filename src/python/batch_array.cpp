// The NumPy array of Engine.positions. This is the only file that touches
// NumPy's C API, so its function table stays private to this translation
// unit (no PY_ARRAY_UNIQUE_SYMBOL). The table is imported at the first batch,
// not at module import, so that `import tarvex` does not pull in NumPy.
#include "python/engine.hpp"

// Built against NumPy 2 headers, targeting the oldest NumPy the package
// supports, so one binary runs with NumPy 1.x and 2.x.
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define NPY_TARGET_VERSION NPY_1_23_API_VERSION
#include <numpy/arrayobject.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "python/errors.hpp"

namespace tarvex::python {

namespace {

constexpr std::size_t COLUMNS = 4;

// Owns the float buffer of one array (set as the array's base). The buffer
// comes from PyMem_RawMalloc so that tracemalloc accounts for it.
struct BatchBuffer {
  PyObject_HEAD double* data;
};

void batch_buffer_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  PyMem_RawFree(reinterpret_cast<BatchBuffer*>(self)->data);
  type->tp_free(self);
  Py_DECREF(type);
}

PyType_Slot BATCH_BUFFER_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Float buffer of a batch positions array.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(batch_buffer_dealloc)},
    {0, nullptr},
};

// Private: created on first need and never registered in the module.
PyType_Spec BATCH_BUFFER_SPEC = {
    .name = "tarvex._BatchBuffer",
    .basicsize = sizeof(BatchBuffer),
    .itemsize = 0,
    .flags = RESULT_CLASS_FLAGS,
    .slots = BATCH_BUFFER_SLOTS,
};

ClassSlot batch_buffer_class{&BATCH_BUFFER_SPEC};

// Asks the kernel to back a large result with huge pages where it offers
// them on request: the engine writes every byte once, and a 35 MB batch
// otherwise takes about nine thousand page faults, a tenth of its time.
// Only whole pages inside the buffer are advised; the advice changes no
// contents, and a kernel without it simply ignores the request.
void advise_huge_pages([[maybe_unused]] void* data, [[maybe_unused]] std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::size_t THRESHOLD = std::size_t{4} << 20;
  if (bytes < THRESHOLD) return;
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) / page * page;
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) / page * page;
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

// A holder with an owned buffer of `count` doubles (at least one, so that
// an empty batch still has a valid data pointer).
Ref new_batch_buffer(std::size_t count) {
  PyTypeObject* type = ensure_class(batch_buffer_class);
  if (type == nullptr) return {};
  Ref holder = Ref::steal(type->tp_alloc(type, 0));
  if (!holder) return {};
  auto* buffer = reinterpret_cast<BatchBuffer*>(holder.get());
  buffer->data = static_cast<double*>(PyMem_RawMalloc(std::max<std::size_t>(count, 1) * sizeof(double)));
  if (buffer->data == nullptr) {
    PyErr_NoMemory();
    return {};
  }
  advise_huge_pages(buffer->data, std::max<std::size_t>(count, 1) * sizeof(double));
  return holder;
}

constexpr std::size_t LIMIT = static_cast<std::size_t>(std::numeric_limits<npy_intp>::max());

// The float64 array of shape (n_instants, n_bodies, 4) over the holder's buffer.
PyObject* wrap_batch_buffer(Ref holder, std::size_t n_instants, std::size_t n_bodies) {
  npy_intp shape[3] = {static_cast<npy_intp>(n_instants), static_cast<npy_intp>(n_bodies),
                       static_cast<npy_intp>(COLUMNS)};
  Ref array = Ref::steal(PyArray_SimpleNewFromData(
      3, shape, NPY_FLOAT64, reinterpret_cast<BatchBuffer*>(holder.get())->data));
  if (!array) return nullptr;
  // Steals the holder's reference, also on failure.
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), holder.release()) < 0) {
    return nullptr;
  }
  return array.release();
}

}  // namespace

PyObject* batch_positions_array(PyEngine& engine, const spk::SpkEphemeris& store,
                                std::span<const core::Body> bodies,
                                std::span<const core::Instant> instants,
                                const core::PositionOptions& options) {
  // The engine writes into the holder's buffer directly, so a batch's
  // floats exist once: no list of positions to flatten and copy.
  Ref holder;
  spk::Interruption interruption = signal_interruption();
  const EngineOperation operation(engine);
  const auto filled = store.positions_into(
      bodies, instants, options,
      [&](std::size_t count) -> double* {
        if (PyArray_ImportNumPyAPI() < 0) return nullptr;
        // The engine reports N x B positions; anything else cannot be shaped.
        if (count != instants.size() * bodies.size()) {
          type_error("batch array shape error: " + std::to_string(count * COLUMNS) +
                     " values do not fit shape (" + std::to_string(instants.size()) + ", " +
                     std::to_string(bodies.size()) + ", 4)");
          return nullptr;
        }
        if (count > LIMIT / (COLUMNS * sizeof(double))) {
          PyErr_NoMemory();
          return nullptr;
        }
        holder = new_batch_buffer(count * COLUMNS);
        return holder ? reinterpret_cast<BatchBuffer*>(holder.get())->data : nullptr;
      },
      interruption);
  // A stop leaves the buffer partly written; the holder frees it here.
  if (!filled) return map_stop_or_error(filled.error());
  if (!*filled) return nullptr;  // the allocation has set the exception
  return wrap_batch_buffer(std::move(holder), instants.size(), bodies.size());
}

}  // namespace tarvex::python
