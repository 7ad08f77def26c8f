// Running native work with the interpreter lock released.
#pragma once

#include <Python.h>

#include <exception>
#include <optional>
#include <utility>

namespace tarvex::kit {

// Runs `body` with the interpreter lock released and returns its result; a
// C++ exception is carried across and rethrown with the lock held again.
// `body` must not touch Python objects.
template <class Body>
auto without_gil(Body&& body) {
  std::exception_ptr exception;
  PyThreadState* saved = PyEval_SaveThread();
  using Result = decltype(body());
  std::optional<Result> result;
  try {
    result.emplace(body());
  } catch (...) {
    exception = std::current_exception();
  }
  PyEval_RestoreThread(saved);
  if (exception) std::rethrow_exception(exception);
  return std::move(*result);
}

}  // namespace tarvex::kit
