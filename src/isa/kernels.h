// The routines built once per instruction set, and the choice among them.
//
// Each copy of the per-instruction-set code (see base/isa.h) fills one
// Kernels table. The table for the CPU in hand is chosen once, on first use;
// the entry points that the rest of the code calls (json::Parser,
// json::append_string, ...) forward to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/status.h"
#include "json/value.h"
#include "tracking/diagonal_round.h"

namespace zr::isa {

// One instruction set's json::Parser.
class ParserKernel {
 public:
  virtual ~ParserKernel();
  virtual base::Result<json::Value> Parse(std::string_view text) = 0;
  virtual bool ParseInto(std::string_view text, size_t readable_after, json::Value& out) = 0;
  virtual bool Canonicalize(std::string_view text, size_t readable_after, std::string& out) = 0;
  virtual bool CanonicalizeFast(std::string_view text, std::string& out) = 0;
  virtual bool CanonicalizeFull(std::string_view text, size_t readable_after, std::string& out) = 0;
};

struct Kernels {
  const char* name;
  std::unique_ptr<ParserKernel> (*new_parser)();
  size_t (*parser_padding)();
  void (*append_string)(std::string& out, std::string_view s);
  bool (*append_string_from_escaped)(std::string& out, std::string_view escaped);
  size_t (*find_needle_or_escape)(std::string_view text, size_t from, std::string_view needle);
  size_t (*find_line_structure)(std::string_view text, uint32_t* out);
  bool (*play_diagonal_round)(const tracking::DiagonalRound<uint32_t, int32_t>& round);
  int32_t (*first_overlap)(const int32_t* mine, const int32_t* other, int32_t count, int32_t n);
};

// The fastest table this CPU runs; with ZR_PORTABLE_ONLY, the only one built.
const Kernels& active_kernels();

// Every table this CPU runs, the portable one first.
std::span<const Kernels* const> runnable_kernels();

}  // namespace zr::isa
