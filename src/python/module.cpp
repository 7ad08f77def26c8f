// Module definition of the tarvex extension: multi-phase initialisation
// whose execution step registers the classes, the functions and the
// constants, in the order users see them listed.
#include <cstdint>

#include "core/horizon.hpp"
#include "core/types.hpp"
#include "python/engine.hpp"
#include "python/enums.hpp"
#include "python/errors.hpp"
#include "python/handle.hpp"
#include "python/heap_type.hpp"
#include "python/options_capsule.hpp"
#include "python/results.hpp"
#include "python/value_results.hpp"
#include "python/values.hpp"

namespace tarvex::python {

namespace {

// Registration order of the classes. Engine is registered last, after
// KernelMetadata.
ClassSlot* const CLASSES[] = {
    &instant_class,       &geodetic_observer_class,  &house_system_class,
    &house_cusps_class,   &horizon_event_kind_class, &rise_set_transit_class,
    &horizon_event_class, &season_event_class,       &lunation_event_class,
    &sidereal_mode_class, &position_options_class,   &position_class,
    &date_range_class,    &kernel_metadata_class,    &engine_class,
};

// Registration order of the functions; `open` comes first, before geometric.
PyMethodDef* const FUNCTIONS[] = {
    &open_function,
    &geometric_function,
    &apparent_function,
    &house_cusps_function,
};

struct Constant {
  const char* name;
  double value;
};

constexpr Constant CONSTANTS[] = {
    {"J2000_JULIAN_DAY", core::J2000_JULIAN_DAY},
    {"SUN_UPPER_LIMB_ALTITUDE_DEG", core::SUN_UPPER_LIMB_ALTITUDE_DEG},
    {"MEAN_REFRACTION_ALTITUDE_DEG", core::MEAN_REFRACTION_ALTITUDE_DEG},
};

// The first failure ends the step; what was added before it stays.
int register_all(PyObject* module) {
  prepare_engine_class();
  for (ClassSlot* slot : CLASSES) {
    PyTypeObject* type = ensure_class(*slot);
    if (type == nullptr) return -1;
    const std::string name(class_name(*slot));
    if (PyModule_AddObjectRef(module, name.c_str(), reinterpret_cast<PyObject*>(type)) < 0) {
      return -1;
    }
  }
  Ref module_name = Ref::steal(PyModule_GetNameObject(module));
  if (!module_name) return -1;
  for (PyMethodDef* definition : FUNCTIONS) {
    Ref function = Ref::steal(PyCFunction_NewEx(definition, module, module_name.get()));
    if (!function || PyModule_AddObjectRef(module, definition->ml_name, function.get()) < 0) {
      return -1;
    }
  }
  for (const Constant& constant : CONSTANTS) {
    Ref value = Ref::steal(PyFloat_FromDouble(constant.value));
    if (!value || PyModule_AddObjectRef(module, constant.name, value.get()) < 0) return -1;
  }
  // Private: tarvexkit's native module reads options through it.
  Ref capsule = Ref::steal(new_options_capsule());
  if (!capsule || PyModule_AddObjectRef(module, "__options_capi__", capsule.get()) < 0) return -1;
  return 0;
}

int tarvex_exec(PyObject* module) noexcept {
  return guarded<int>(-1, [&] {
    if (!PyModule_Check(module)) {
      PyErr_SetString(PyExc_TypeError, "tarvex execution step received a non-module object");
      return -1;
    }
    return register_all(module);
  });
}

PyModuleDef_Slot tarvex_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(tarvex_exec)},
#ifdef Py_mod_gil
    // Value objects are immutable and an Engine is bound to its creator
    // thread, so free-threaded interpreters need not re-enable the lock.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef tarvex_module = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "tarvex",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = tarvex_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

// ------------------------------------------------------------ export hook
//
// Interpreters from 3.15 on look for PyModExport_tarvex first and build the
// module from the slot list it returns (PEP 793); older ones call
// PyInit_tarvex. Headers before 3.15 lack the slot numbers and the ABI
// record, so they are spelled out here with the values those interpreters
// define; headers that have them are used as they are.
#if PY_VERSION_HEX >= 0x030F0000
constexpr int MOD_ABI_SLOT = Py_mod_abi;
constexpr int MOD_NAME_SLOT = Py_mod_name;
constexpr int MOD_DOC_SLOT = Py_mod_doc;
// Version 1.0 of the record, describing the headers this module is built with.
PyABIInfo_VAR(tarvex_abi_info);
#else
constexpr int MOD_ABI_SLOT = 5;
constexpr int MOD_NAME_SLOT = 6;
constexpr int MOD_DOC_SLOT = 7;
// The layout of PyABIInfo.
struct AbiInfo {
  std::uint8_t abiinfo_major_version;
  std::uint8_t abiinfo_minor_version;
  std::uint16_t flags;
  std::uint32_t build_version;
  std::uint32_t abi_version;
};
// PyABIInfo_FREETHREADED or PyABIInfo_GIL: the version-specific ABI that
// PY_VERSION_HEX names, not the stable ABI.
#ifdef Py_GIL_DISABLED
constexpr std::uint16_t ABI_FLAGS = 0x0004;
#else
constexpr std::uint16_t ABI_FLAGS = 0x0002;
#endif
// Version 1.0 of the record, describing the headers this module is built with.
AbiInfo tarvex_abi_info = {1, 0, ABI_FLAGS, PY_VERSION_HEX, PY_VERSION_HEX};
#endif
// "Does not need the GIL": Py_mod_gil with Py_MOD_GIL_NOT_USED, both known
// from 3.13 on.
#ifdef Py_mod_gil
constexpr int MOD_GIL_SLOT = Py_mod_gil;
void* const GIL_NOT_USED = Py_MOD_GIL_NOT_USED;
#else
constexpr int MOD_GIL_SLOT = 4;
void* const GIL_NOT_USED = reinterpret_cast<void*>(1);
#endif

PyModuleDef_Slot tarvex_export_slots[] = {
    {MOD_NAME_SLOT, const_cast<char*>("tarvex")},
    {MOD_DOC_SLOT, const_cast<char*>("")},
    {Py_mod_exec, reinterpret_cast<void*>(tarvex_exec)},
    {MOD_ABI_SLOT, &tarvex_abi_info},
    {MOD_GIL_SLOT, GIL_NOT_USED},
    {0, nullptr},
};

}  // namespace

}  // namespace tarvex::python

PyMODINIT_FUNC PyInit_tarvex(void) { return PyModuleDef_Init(&tarvex::python::tarvex_module); }

#ifndef PyMODEXPORT_FUNC
#define PyMODEXPORT_FUNC extern "C" Py_EXPORTED_SYMBOL PyModuleDef_Slot*
#endif

PyMODEXPORT_FUNC PyModExport_tarvex(void) { return tarvex::python::tarvex_export_slots; }
