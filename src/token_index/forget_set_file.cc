#include "token_index/forget_set_file.h"

#include <cerrno>
#include <optional>

#include "base/file.h"
#include "base/file_replacement.h"
#include "base/file_system.h"

namespace zr::token_index {

namespace {

// Where a regular file (or nothing yet) is at `path`, the file to replace
// and the mode it keeps: through symbolic links, the file finally named, so
// that a link stays a link. Nothing when the mask is to be written directly:
// a FIFO, a device, a file reached through /proc (/dev/stdout redirected to
// a file), a directory (which fails as it always did), a dangling link, or a
// path that cannot be examined (whose error the direct write reports in its
// own words).
struct ReplaceableTarget {
  std::string path;
  mode_t mode = 0;
  bool exists = false;
};

// Whether following `path` leads through /proc, where a process's open
// files appear as links: /dev/stdout names the file standard output is
// open on, and replacing that file by another would leave the process
// writing to one nobody can see. Unsure counts as through.
bool leads_through_proc(std::string path) {
  constexpr int kMaxLinks = 40;  // the system's own limit on a chain of links
  for (int link = 0; link < kMaxLinks; ++link) {
    base::Result<std::string> dir = base::resolve_path(base::parent_directory(path));
    if (!dir.ok()) return true;
    if (*dir == "/proc" || dir->starts_with("/proc/")) return true;
    const size_t slash = path.rfind('/');
    const std::string at = base::path_join(*dir, slash == std::string::npos ? path : path.substr(slash + 1));
    base::Result<std::string> target = base::read_link(at);
    if (!target.ok()) return target.status().error_number() != EINVAL;  // EINVAL: no link, the end
    path = target->starts_with('/') ? std::move(target).value() : base::path_join(*dir, *target);
  }
  return true;
}

std::optional<ReplaceableTarget> replaceable_target(const std::string& path) {
  base::Result<base::FileStatus> status = base::file_status(path);
  if (status.ok() && status->kind == base::PathKind::kRegularFile) {
    if (leads_through_proc(path)) return std::nullopt;
    base::Result<std::string> resolved = base::resolve_path(path);
    if (!resolved.ok()) return std::nullopt;
    return ReplaceableTarget{std::move(resolved).value(), status->permissions, true};
  }
  if (!status.ok() && status.status().is_missing() && base::check_path(path).ok()) {
    // A dangling link: writing through it creates the file it names.
    if (base::file_identity(path).ok()) return std::nullopt;
    return ReplaceableTarget{path, base::new_file_mode(), false};
  }
  return std::nullopt;
}

}  // namespace

base::Status write_forget_set(const std::string& path, std::string_view bitmask) {
  std::optional<ReplaceableTarget> target = replaceable_target(path);
  if (!target) return base::write_file(path, bitmask);
  if (target->exists) {
    // A rename asks only for the directory's permission, and would replace a
    // file the user may not write to: such a file is refused as ever.
    ZR_RETURN_IF_ERROR(base::open_for_append(path).status());
  }
  // A consumer must find the old mask or the new one, never a cut one that
  // reads as fewer forgotten entries: the new mask is written aside, in the
  // target's directory, and renamed over it. The temporary file lives among
  // the user's files, so its name says whose it is; a failure removes it.
  base::Result<base::FileReplacement> replacement =
      base::FileReplacement::Create(target->path, base::parent_directory(target->path),
                                    base::temp_prefix_beside(target->path, kForgetSetTempInfix));
  // Where nothing can be created beside the file (a directory in which the
  // user may change files but not add any), it is written in place as ever,
  // and a missing directory fails there with the same message.
  if (!replacement.ok()) return base::write_file(path, bitmask);
  ZR_RETURN_IF_ERROR(replacement->Write(bitmask));
  ZR_RETURN_IF_ERROR(replacement->Finish(target->mode));
  base::Status committed = replacement->Commit();
  // A directory that refuses the rename (one with the sticky bit, say) may
  // still let the file be written in place, as it always was.
  const int refused = committed.error_number();
  if (refused == EPERM || refused == EACCES) return base::write_file(path, bitmask);
  return committed;
}

}  // namespace zr::token_index
