// The compile-time check between a function record's parameter list and its
// operation. Each case is a static assertion: a record that the check lets
// through with a mismatch would have to be caught by a call at run time.
#include "module/operation_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zr::module {
namespace {

using Strs = std::vector<std::string>;

// Operations of the shapes the module's records call.
using Revoke = int (*)(std::string_view zr_dir, std::string_view hash, bool reverse);
using WritePid = int (*)(std::string_view zr_dir, std::string_view tokenizer, uint64_t count, const Strs& sources);
using Query = int (*)(const std::string& zr_dir, std::optional<std::string_view> name);
using TakesPathByReference = int (*)(std::string& path);

// Matching lists: values, const references and views of them.
static_assert(TakesValues<Revoke, std::string, std::string, bool>);
static_assert(TakesValues<WritePid, std::string, std::string, uint64_t, Strs>);
static_assert(TakesValues<Query, std::string, std::optional<std::string>>);
static_assert(TakesValues<decltype([](const std::string&, bool) { return 0; }), std::string, bool>);

// A kind at the wrong position, even where C++ would convert it quietly.
static_assert(!TakesValues<Revoke, std::string, bool, std::string>);
static_assert(!TakesValues<WritePid, std::string, std::string, bool, Strs>);
static_assert(!TakesValues<WritePid, std::string, std::string, Strs, uint64_t>);
static_assert(!TakesValues<Query, std::string, std::string>);
static_assert(!TakesValues<decltype([](uint64_t) { return 0; }), bool>);

// A parameter too many or too few.
static_assert(!TakesValues<Revoke, std::string, std::string>);
static_assert(!TakesValues<Revoke, std::string, std::string, bool, bool>);

// An operation may not change the converted value in place.
static_assert(!TakesValues<TakesPathByReference, std::string>);

TEST(ModuleOperationCheck, IsDecidedAtCompileTime) { SUCCEED(); }

}  // namespace
}  // namespace zr::module
