// The names the rest of the code calls for the per-instruction-set routines:
// each forwards to the copy chosen for this CPU.
#include "isa/kernels.h"
#include "store/candidate_lines.h"
#include "json/parse.h"
#include "json/write.h"
#include "store/string_set_lines.h"

namespace zr {

namespace json {

size_t required_padding() { return isa::active_kernels().parser_padding(); }

struct Parser::Impl {
  std::unique_ptr<isa::ParserKernel> kernel = isa::active_kernels().new_parser();
};

Parser::Parser() : impl_(std::make_unique<Impl>()) {}
Parser::~Parser() = default;

base::Result<Value> Parser::Parse(std::string_view text) { return impl_->kernel->Parse(text); }

bool Parser::ParseInto(std::string_view text, size_t readable_after, Value& out) {
  return impl_->kernel->ParseInto(text, readable_after, out);
}

bool Parser::Canonicalize(std::string_view text, size_t readable_after, std::string& out) {
  return impl_->kernel->Canonicalize(text, readable_after, out);
}

bool Parser::CanonicalizeFast(std::string_view text, std::string& out) {
  return impl_->kernel->CanonicalizeFast(text, out);
}

bool Parser::CanonicalizeFull(std::string_view text, size_t readable_after, std::string& out) {
  return impl_->kernel->CanonicalizeFull(text, readable_after, out);
}

void append_string(std::string& out, std::string_view s) { isa::active_kernels().append_string(out, s); }

bool append_string_from_escaped(std::string& out, std::string_view escaped) {
  return isa::active_kernels().append_string_from_escaped(out, escaped);
}

}  // namespace json

namespace store {

size_t find_needle_or_escape(std::string_view text, size_t from, std::string_view needle) {
  return isa::active_kernels().find_needle_or_escape(text, from, needle);
}

size_t find_line_structure(std::string_view text, uint32_t* out) {
  return isa::active_kernels().find_line_structure(text, out);
}

}  // namespace store

namespace tracking {

bool play_diagonal_round(const DiagonalRound<uint32_t, int32_t>& round) {
  return isa::active_kernels().play_diagonal_round(round);
}

int32_t first_overlap(const int32_t* mine, const int32_t* other, int32_t count, int32_t n) {
  return isa::active_kernels().first_overlap(mine, other, count, n);
}

}  // namespace tracking

}  // namespace zr
