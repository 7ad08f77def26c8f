// Module definition of tarvexkit._native, the toolkit's private native
// module: multi-phase initialisation whose execution step adds the Store
// and EarthRotation classes, the search functions and the eclipse
// geometry; the astrology functions are module-level functions.
#include "python/errors.hpp"
#include "python/handle.hpp"
#include "python/heap_type.hpp"
#include "tarvexkit/native/astrology.hpp"
#include "tarvexkit/native/earth_rotation.hpp"
#include "tarvexkit/native/eclipse_functions.hpp"
#include "tarvexkit/native/orbit_integration.hpp"
#include "tarvexkit/native/search_functions.hpp"
#include "tarvexkit/native/star_places.hpp"
#include "tarvexkit/native/shared_numbers.hpp"
#include "tarvexkit/native/store.hpp"

namespace tarvex::kit {

namespace {

int native_exec(PyObject* module) noexcept {
  return python::guarded<int>(-1, [&] {
    if (PyModule_AddFunctions(module, search_functions) < 0) return -1;
    if (add_search_constants(module) < 0) return -1;
    if (add_shared_numbers(module) < 0) return -1;
    if (PyModule_AddFunctions(module, eclipse_functions) < 0) return -1;
    if (PyModule_AddFunctions(module, star_functions) < 0) return -1;
    if (PyModule_AddFunctions(module, orbit_functions) < 0) return -1;
    PyTypeObject* type = python::ensure_class(store_class);
    if (type == nullptr) return -1;
    if (PyModule_AddObjectRef(module, "Store", reinterpret_cast<PyObject*>(type)) < 0) return -1;
    PyTypeObject* rotation = python::ensure_class(earth_rotation_class);
    if (rotation == nullptr) return -1;
    return PyModule_AddObjectRef(module, "EarthRotation", reinterpret_cast<PyObject*>(rotation));
  });
}

PyModuleDef_Slot native_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(native_exec)},
    {0, nullptr},
};

PyModuleDef native_module = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "tarvexkit._native",
    .m_doc = "Native part of tarvexkit: kernel stores with array batches on worker threads.",
    .m_size = 0,
    .m_methods = astrology_functions,
    .m_slots = native_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

}  // namespace tarvex::kit

PyMODINIT_FUNC PyInit__native(void) { return PyModuleDef_Init(&tarvex::kit::native_module); }
