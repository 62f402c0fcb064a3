// The JSON routines built once per instruction set, as the rest of the code
// calls them: each hands over to the copy chosen for this CPU (see
// base/isa.h).
#include "json/cpu_kernels.h"
#include "json/parse.h"
#include "json/write.h"

namespace zr::json {

ZR_ISA_CHOOSE_COPY(json)

ParserBase::~ParserBase() = default;

size_t required_padding() { return cpu_kernels().required_padding(); }

struct Parser::Impl {
  std::unique_ptr<ParserBase> copy = cpu_kernels().new_parser();
};

Parser::Parser() : impl_(std::make_unique<Impl>()) {}
Parser::~Parser() = default;

base::Result<Value> Parser::Parse(std::string_view text) { return impl_->copy->Parse(text); }

bool Parser::ParseInto(std::string_view text, size_t readable_after, Value& out) {
  return impl_->copy->ParseInto(text, readable_after, out);
}

bool Parser::Canonicalize(std::string_view text, size_t readable_after, std::string& out) {
  return impl_->copy->Canonicalize(text, readable_after, out);
}

bool Parser::CanonicalizeFast(std::string_view text, std::string& out) {
  return impl_->copy->CanonicalizeFast(text, out);
}

bool Parser::CanonicalizeFull(std::string_view text, size_t readable_after, std::string& out) {
  return impl_->copy->CanonicalizeFull(text, readable_after, out);
}

void append_string(std::string& out, std::string_view s) { cpu_kernels().append_string(out, s); }

bool append_string_from_escaped(std::string& out, std::string_view escaped) {
  return cpu_kernels().append_string_from_escaped(out, escaped);
}

}  // namespace zr::json
