// The compact text of a whole value (strings and numbers are written by
// write_string.cc and write_number.cc).
#include "json/write.h"

namespace zr::json {

void append_bool(std::string& out, bool b) { out.append(b ? "true" : "false"); }

void append_string_array(std::string& out, const std::vector<std::string>& items) {
  out.push_back('[');
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out.push_back(',');
    append_string(out, items[i]);
  }
  out.push_back(']');
}

void append_compact(std::string& out, const Value& value) {
  switch (value.kind()) {
    case Kind::kNull: out.append("null"); return;
    case Kind::kBool: append_bool(out, value.as_bool()); return;
    case Kind::kUnsigned: append_unsigned(out, value.as_unsigned()); return;
    case Kind::kNegative: append_signed(out, value.as_negative()); return;
    case Kind::kFloat: append_float(out, value.as_float()); return;
    case Kind::kString: append_string(out, value.as_string()); return;
    case Kind::kArray: {
      out.push_back('[');
      bool first = true;
      for (const Value& item : value.as_array()) {
        if (!first) out.push_back(',');
        first = false;
        append_compact(out, item);
      }
      out.push_back(']');
      return;
    }
    case Kind::kObject: {
      out.push_back('{');
      bool first = true;
      for (const Member& m : value.as_object().members) {
        if (!first) out.push_back(',');
        first = false;
        append_string(out, m.key);
        out.push_back(':');
        append_compact(out, m.value);
      }
      out.push_back('}');
      return;
    }
  }
}

std::string to_compact(const Value& value) {
  std::string out;
  out.reserve(128);
  append_compact(out, value);
  return out;
}

}  // namespace zr::json
