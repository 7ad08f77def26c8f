// Module definition of the tarvex extension. The execution step registers
// the classes, functions and constants.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace {

int tarvex_exec(PyObject* module) {
  if (!PyModule_Check(module)) {
    PyErr_SetString(PyExc_TypeError, "tarvex execution step received a non-module object");
    return -1;
  }
  return 0;
}

PyModuleDef_Slot tarvex_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(tarvex_exec)},
    {0, nullptr},
};

PyModuleDef tarvex_module = {
    PyModuleDef_HEAD_INIT, "tarvex", "", 0, nullptr, tarvex_slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_tarvex(void) { return PyModuleDef_Init(&tarvex_module); }
