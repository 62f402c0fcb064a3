#include "base/status.h"

#include <cstring>

namespace zr::base {

Status Status::Error(std::string message) {
  Status s;
  auto state = std::make_shared<State>();
  state->message = std::move(message);
  s.state_ = std::move(state);
  return s;
}

Status Status::InternalFault(std::string message) {
  Status s;
  auto state = std::make_shared<State>();
  state->message = std::move(message);
  state->internal_fault = true;
  s.state_ = std::move(state);
  return s;
}

Status Status::FromErrno(int err) {
  char buffer[256];
  // GNU strerror_r returns the message pointer, which may not be `buffer`.
  const char* text = strerror_r(err, buffer, sizeof buffer);
  return FromErrno(err, text);
}

Status Status::FromErrno(int err, std::string message) {
  Status s;
  auto state = std::make_shared<State>();
  state->message = std::move(message);
  state->error_number = err;
  s.state_ = std::move(state);
  return s;
}

const std::string& Status::message() const {
  static const std::string kEmpty;
  return state_ ? state_->message : kEmpty;
}

Status Status::WithContext(std::string outer) const {
  if (ok()) return *this;
  Status s;
  auto state = std::make_shared<State>();
  state->message = std::move(outer);
  state->internal_fault = state_->internal_fault;
  state->error_number = state_->error_number;
  state->cause = std::make_shared<const Status>(*this);
  s.state_ = std::move(state);
  return s;
}

std::string Status::ToString() const {
  std::string text;
  for (const Status* s = this; s != nullptr && !s->ok(); s = s->cause()) {
    if (!text.empty()) text += ": ";
    text += s->message();
  }
  return text;
}

}  // namespace zr::base
