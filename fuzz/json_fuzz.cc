// The JSON parser and compact writer against the reference reader and
// writer: both accept or both refuse (and the single-pass canonical route
// never accepts alone nor writes other bytes); an accepted text gives the same value
// whichever way it is parsed (tree or straight to text, copied or in place
// with arbitrary bytes after it); the compact text is the reference's, reads
// back as the same value and is its own compact form.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "reference_json.h"
#include "json/parse.h"
#include "json/write.h"

using zr::fuzz::fail;

namespace {

// Bytes placed after a text parsed in place: they must never change what
// the text reads as, though a careless reader could take them for more
// digits, a closing bracket or the rest of a word.
std::string in_place_copy(std::string_view text) {
  std::string buffer(text);
  while (buffer.size() < text.size() + 2 * zr::json::required_padding()) buffer += "0e5]}\"ue\\";
  return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<zr::json::Value> expected = zr::fuzz::reference_parse(text);

  zr::json::Parser parser;
  zr::json::Value copied;
  const bool copied_ok = parser.ParseInto(text, 0, copied);
  if (copied_ok != expected.has_value()) {
    fail(expected ? "parser refuses a valid text" : "parser accepts an invalid text", text);
  }

  const std::string buffer = in_place_copy(text);
  zr::json::Value in_place;
  const bool in_place_ok = parser.ParseInto(std::string_view(buffer.data(), size), buffer.size() - size, in_place);
  if (in_place_ok != copied_ok) fail("parsing in place decides differently from parsing a copy", text);

  std::string canonical;
  const bool canonical_ok = parser.Canonicalize(text, 0, canonical);
  if (canonical_ok != copied_ok) fail("canonical text decides differently from the tree", text);
  // The single-pass route may decline any text, but what it takes must be
  // valid and come out as the general route writes it.
  std::string fast, full;
  const bool full_ok = parser.CanonicalizeFull(text, 0, full);
  if (full_ok != copied_ok) fail("general canonical route decides differently from the tree", text);
  if (parser.CanonicalizeFast(text, fast)) {
    if (!full_ok) fail("single-pass route accepts an invalid text", text);
    if (fast != full) fail("single-pass text " + fast + " differs from the general route's " + full, text);
  }
  if (!expected) {
    // The message names where the text went wrong; it must be found safely.
    if (parser.Parse(text).ok()) fail("Parse accepts what ParseInto refuses", text);
    return 0;
  }

  if (!zr::fuzz::same_value(copied, *expected)) fail("parsed value differs from the reference", text);
  if (!zr::fuzz::same_value(in_place, *expected)) fail("value parsed in place differs from the reference", text);

  const std::string reference = zr::fuzz::reference_compact(*expected);
  const std::string compact = zr::json::to_compact(copied);
  if (compact != reference) fail("compact text " + compact + " differs from the reference " + reference, text);
  if (canonical != reference) fail("canonical text " + canonical + " differs from the reference " + reference, text);

  zr::json::Value reread;
  if (!parser.ParseInto(compact, 0, reread)) fail("compact text does not parse: " + compact, text);
  // Repeats are not written, so only the members can be compared.
  if (zr::json::to_compact(reread) != compact) fail("compact text is not its own compact form: " + compact, text);
  std::optional<zr::json::Value> reference_reread = zr::fuzz::reference_parse(compact);
  if (!reference_reread || zr::fuzz::reference_compact(*reference_reread) != compact) {
    fail("compact text does not read back to the same value: " + compact, text);
  }
  return 0;
}
