// The functions of _zr_bulk that merge a store tracked in pieces, one shard
// range at a time (see maintenance/range_merge.h).
#pragma once

#include "module/function_record.h"

namespace zr::module {

const FunctionRecord& split_store_record();
const FunctionRecord& merge_document_texts_record();
const FunctionRecord& merge_token_texts_record();
const FunctionRecord& absorb_document_texts_record();
const FunctionRecord& absorb_token_text_record();
const FunctionRecord& log_merge_record();

}  // namespace zr::module
