// This copy's table of the JSON routines (compiled once per instruction set,
// like the routines it lists; see base/isa.h).
#include "json/cpu_kernels.h"
#include "json/write.h"

namespace zr::json {

ZR_ISA_COPY_TABLE(json) = {
    ZR_ISA_NAME,
    []() -> std::unique_ptr<ParserBase> { return std::make_unique<Parser>(); },
    &required_padding,
    &append_string,
    &append_string_from_escaped,
};

}  // namespace zr::json
