// The note of a restore in progress: a note cut short must never read as a
// whole one, since it would tell a later call what was appended.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "purge/restore_note.h"

namespace zr::purge {
namespace {

TEST(RestoreNote, RoundTripsAndRefusesEveryPartialText) {
  RestoreNote note;
  note.archive = {12, 345678, 9012, 1700000000, 123456789, 1700000001, 5};
  note.data_size = 4177;
  note.separated = true;
  note.data_file = "/data/a file\nwith a line feed";
  const std::string text = format_restore_note(note);
  std::optional<RestoreNote> back = parse_restore_note(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->archive, note.archive);
  EXPECT_EQ(back->data_size, note.data_size);
  EXPECT_TRUE(back->separated);
  EXPECT_EQ(back->data_file, note.data_file);
  for (size_t cut = 0; cut < text.size(); ++cut) EXPECT_FALSE(parse_restore_note(text.substr(0, cut))) << cut;
  EXPECT_FALSE(parse_restore_note(text + "x"));
  EXPECT_FALSE(parse_restore_note("1 2 3 4 5 6 7 8 2 2\n/p"));  // "separated" is 0 or 1
}

TEST(RestoreNote, NamedAfterItsArchive) {
  EXPECT_EQ(restore_note_path("/p/.zr/archive/purge.20250101T000000"),
            "/p/.zr/archive/.restoring.purge.20250101T000000");
  EXPECT_TRUE(is_restore_note_name(".restoring.purge.20250101T000000"));
  EXPECT_FALSE(is_restore_note_name(".restoring.sections.3f"));
  EXPECT_FALSE(is_restore_note_name("purge.20250101T000000"));
}

}  // namespace
}  // namespace zr::purge
