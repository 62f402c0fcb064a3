// Giving up the interpreter's lock while native work runs on copies of the
// arguments (or on objects a call holds), so that other threads run Python.
#pragma once

#include <Python.h>

namespace zr::module {

// Gives up the lock for as long as it lives; taken back however the scope
// is left.
class InterpreterReleased {
 public:
  InterpreterReleased() : state_(PyEval_SaveThread()) {}
  ~InterpreterReleased() { PyEval_RestoreThread(state_); }
  InterpreterReleased(const InterpreterReleased&) = delete;
  InterpreterReleased& operator=(const InterpreterReleased&) = delete;

 private:
  PyThreadState* state_;
};

}  // namespace zr::module
