// This copy's Kernels table (compiled once per instruction set, like the
// routines it lists).
#include "isa/kernels.h"
#include "store/candidate_lines.h"
#include "json/parse.h"
#include "json/write.h"
#include "store/string_set_lines.h"

#if !defined(ZR_ISA)
#error "compiled only as one instruction set's copy"
#endif

namespace zr::isa {

namespace {

class Parser final : public ParserKernel {
 public:
  base::Result<json::Value> Parse(std::string_view text) override { return parser_.Parse(text); }
  bool ParseInto(std::string_view text, size_t readable_after, json::Value& out) override {
    return parser_.ParseInto(text, readable_after, out);
  }
  bool Canonicalize(std::string_view text, size_t readable_after, std::string& out) override {
    return parser_.Canonicalize(text, readable_after, out);
  }
  bool CanonicalizeFast(std::string_view text, std::string& out) override {
    return parser_.CanonicalizeFast(text, out);
  }
  bool CanonicalizeFull(std::string_view text, size_t readable_after, std::string& out) override {
    return parser_.CanonicalizeFull(text, readable_after, out);
  }

 private:
  json::Parser parser_;
};

}  // namespace

#define ZR_KERNELS_NAME_(isa) zr_isa_kernels_##isa
#define ZR_KERNELS_NAME(isa) ZR_KERNELS_NAME_(isa)
#define ZR_STRINGIFY_(x) #x
#define ZR_STRINGIFY(x) ZR_STRINGIFY_(x)

// The one symbol of this copy that the rest of the program sees (the build
// hides all others).
extern "C" const Kernels ZR_KERNELS_NAME(ZR_ISA);
extern "C" const Kernels ZR_KERNELS_NAME(ZR_ISA) = {
    ZR_STRINGIFY(ZR_ISA),
    []() -> std::unique_ptr<ParserKernel> { return std::make_unique<Parser>(); },
    &json::required_padding,
    &json::append_string,
    &json::append_string_from_escaped,
    &store::find_needle_or_escape,
    &store::find_line_structure,
    &tracking::play_diagonal_round,
    &tracking::first_overlap,
};

}  // namespace zr::isa
