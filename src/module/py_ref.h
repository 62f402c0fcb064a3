// The owner of one strong reference to a Python object: released when the
// owner goes, so that every early return on an error path drops what it
// holds. Only used while the interpreter's lock is held.
#pragma once

#include <Python.h>

#include <utility>

namespace zr::module {

class PyRef {
 public:
  PyRef() = default;
  // Takes over `owned`, a new reference (or nullptr).
  explicit PyRef(PyObject* owned) : object_(owned) {}
  // A new reference to `object`, which the caller only borrows.
  static PyRef borrow(PyObject* object) {
    Py_XINCREF(object);
    return PyRef(object);
  }
  PyRef(PyRef&& other) noexcept : object_(other.release()) {}
  PyRef& operator=(PyRef&& other) noexcept {
    reset(other.release());
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() { return std::exchange(object_, nullptr); }
  void reset(PyObject* owned = nullptr) { Py_XDECREF(std::exchange(object_, owned)); }

 private:
  PyObject* object_ = nullptr;
};

}  // namespace zr::module
