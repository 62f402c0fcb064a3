/* Kills the process at a chosen file-system call, so that a test can see
 * what a crash at that moment leaves behind.
 *
 * Preloaded into a child interpreter; it does nothing until the child calls
 * kill_shim_arm(kind, at, torn, done). From then on it counts the calls of
 * that kind and, at call number `at`, sends the process SIGKILL before the
 * call runs (no destructor, no flush, exactly like a crash). With `torn` set,
 * a write chosen this way first writes half of its bytes, as a write cut off
 * by a crash or a full disk would. `done` (memory shared with the parent)
 * receives the number of calls of each kind that ran, so the parent knows
 * how far the killed call got.
 *
 * Kinds: "write" (writes and positioned writes to descriptors above 2),
 * "rename" (renameat2 too: how a rename that must not replace is made),
 * "unlink", "fsync".
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

enum kind { KIND_WRITE, KIND_RENAME, KIND_UNLINK, KIND_FSYNC, KIND_NONE };

static int armed_kind = KIND_NONE;
static long armed_at = 0;
static int armed_torn = 0;
static long calls_seen = 0;
static long* calls_done = NULL; /* one counter per kind, shared with the parent */

static int kind_of(const char* name) {
  static const char* const names[] = {"write", "rename", "unlink", "fsync"};
  for (int k = 0; k < KIND_NONE; ++k) {
    if (strcmp(name, names[k]) == 0) return k;
  }
  return KIND_NONE;
}

void kill_shim_arm(const char* kind, long at, int torn, long* done) {
  calls_seen = 0;
  armed_at = at;
  armed_torn = torn;
  calls_done = done;
  armed_kind = kind_of(kind);
}

static void die(void) {
  syscall(SYS_kill, getpid(), SIGKILL);
  for (;;) pause();
}

/* True when this call of kind `k` is the chosen one. */
static int chosen(int k) {
  if (k != armed_kind) return 0;
  return __atomic_add_fetch(&calls_seen, 1, __ATOMIC_SEQ_CST) == armed_at;
}

/* Passes on `result` of a call of kind `k` that ran. */
static long ran(int k, long result) {
  if (calls_done != NULL) __atomic_add_fetch(&calls_done[k], 1, __ATOMIC_SEQ_CST);
  return result;
}

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

ssize_t write(int fd, const void* buf, size_t count) {
  if (fd <= 2) return REAL(write)(fd, buf, count);
  if (chosen(KIND_WRITE)) {
    if (armed_torn && count > 1) REAL(write)(fd, buf, count / 2);
    die();
  }
  return ran(KIND_WRITE, REAL(write)(fd, buf, count));
}

static ssize_t positioned_write(ssize_t (*real)(int, const void*, size_t, off_t), int fd, const void* buf,
                                size_t count, off_t offset) {
  if (fd <= 2) return real(fd, buf, count, offset);
  if (chosen(KIND_WRITE)) {
    if (armed_torn && count > 1) real(fd, buf, count / 2, offset);
    die();
  }
  return ran(KIND_WRITE, real(fd, buf, count, offset));
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
  return positioned_write(REAL(pwrite), fd, buf, count, offset);
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) {
  return positioned_write(REAL(pwrite64), fd, buf, count, offset);
}

int rename(const char* from, const char* to) {
  if (chosen(KIND_RENAME)) die();
  return ran(KIND_RENAME, REAL(rename)(from, to));
}

int renameat(int from_dir, const char* from, int to_dir, const char* to) {
  if (chosen(KIND_RENAME)) die();
  return ran(KIND_RENAME, REAL(renameat)(from_dir, from, to_dir, to));
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned int flags) {
  if (chosen(KIND_RENAME)) die();
  return ran(KIND_RENAME, REAL(renameat2)(from_dir, from, to_dir, to, flags));
}

int unlink(const char* path) {
  if (chosen(KIND_UNLINK)) die();
  return ran(KIND_UNLINK, REAL(unlink)(path));
}

int unlinkat(int dir, const char* path, int flags) {
  if (chosen(KIND_UNLINK)) die();
  return ran(KIND_UNLINK, REAL(unlinkat)(dir, path, flags));
}

int fsync(int fd) {
  if (chosen(KIND_FSYNC)) die();
  return ran(KIND_FSYNC, REAL(fsync)(fd));
}

int fdatasync(int fd) {
  if (chosen(KIND_FSYNC)) die();
  return ran(KIND_FSYNC, REAL(fdatasync)(fd));
}
