// faultfs: a file system for tests that shows a backing directory at a mount point and makes
// chosen requests fail or lie the way a network share does. Every request is passed through to
// the backing directory unless a rule says otherwise.
//
//   faultfs [--rule RULE]... [--control FILE] [--delay-us N] [--cache SECONDS] [--log FILE]
//           [--foreground] BACKING MOUNTPOINT
//
// BACKING may be MOUNTPOINT itself: the directory is opened before the mount covers it, so the
// files stay where they are and can be looked at directly once the file system is unmounted
// (fusermount3 -u MOUNTPOINT, or umount). The program returns once the mount is in place and
// serves it in the background until it is unmounted.
//
// A rule is one line of words:  OP PATH ACTION [ARG] [skip=N] [times=N]
//   OP      a request: getattr (every lookup and stat of a name), readdir, opendir, open,
//           create, read, write, flush (each close), fsync, release (a delay only), truncate,
//           utimens, chmod, chown, mkdir, rmdir, unlink, rename, link, symlink, readlink,
//           statfs, setxattr, getxattr, listxattr, removexattr; or * for any request
//   PATH    the path below the mount point (/dir/a.txt), a shell pattern (/dir/*; * also spans
//           slashes), or * for any; a rename or link matches by either of its two paths
//   ACTION  fail ERR   answers ERR and does nothing
//           lost ERR   does the request, then answers ERR (a reply lost after the work)
//           drop       answers success and does nothing (a write: its bytes are never stored)
//           late ERR   a write: answers success and stores nothing; the next flush or fsync of
//                      that open file answers ERR (an error that shows only at close)
//           delay US   waits US microseconds first, then goes on (other rules still apply)
//   ERR is an errno name (EIO, ENOSPC, ENOTSUP...) or number. skip=N passes the first N
//   matching requests; times=N acts on the N after them and then passes again (0: all, the
//   default).
// --rule gives a rule when mounting; --control names a file of rules, one a line (# begins a
// comment), read again whenever it changes, with fresh counts. --delay-us N delays every
// request (the rule "* * delay N"). --cache SECONDS keeps names and attributes in the kernel
// for that long, and file data in its page cache; the default, 0, keeps none of them, so that
// every request reaches this program. --log FILE appends one line per request: its operation
// and path.
#define FUSE_USE_VERSION 31

#include <fuse.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

enum Action { ACT_PASS, ACT_FAIL, ACT_LOST, ACT_DROP, ACT_LATE, ACT_DELAY };

struct Rule {
  std::string op;
  std::string path;
  Action action = ACT_PASS;
  long arg = 0; // the error number, or the delay in microseconds
  long skip = 0;
  long times = 0;
  long seen = 0; // matching requests so far
};

struct Verdict {
  Action action = ACT_PASS;
  int error = 0;
};

// An open file: its descriptor in the backing directory and the error a late rule left for
// the next flush.
struct Handle {
  int fd;
  int lateError;
};

pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
std::vector<Rule> fixedRules;   // from the command line
std::vector<Rule> controlRules; // from the control file
std::string controlPath;
struct timespec controlTime = {0, 0};
off_t controlSize = -1;
double cacheSeconds = 0;
FILE *logFile = nullptr;

const struct {
  const char *name;
  int value;
} ERRNO_NAMES[] = {
    {"EIO", EIO},
    {"ENOENT", ENOENT},
    {"EACCES", EACCES},
    {"EPERM", EPERM},
    {"ENOSPC", ENOSPC},
    {"EDQUOT", EDQUOT},
    {"EROFS", EROFS},
    {"ENOTSUP", ENOTSUP},
    {"EOPNOTSUPP", EOPNOTSUPP},
    {"ENODATA", ENODATA},
    {"EEXIST", EEXIST},
    {"EXDEV", EXDEV},
    {"EBUSY", EBUSY},
    {"EINTR", EINTR},
    {"ETIMEDOUT", ETIMEDOUT},
    {"ENAMETOOLONG", ENAMETOOLONG},
    {"ENOTEMPTY", ENOTEMPTY},
    {"EFBIG", EFBIG},
    {"ESTALE", ESTALE},
    {"EINVAL", EINVAL},
};

bool parseErrno(const std::string &text, long *value) {
  for (const auto &known : ERRNO_NAMES)
    if (text == known.name) {
      *value = known.value;
      return true;
    }
  char *end = nullptr;
  *value = strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && *value > 0;
}

bool parseCount(const std::string &word, const char *key, long *value) {
  size_t length = strlen(key);
  if (word.compare(0, length, key) != 0)
    return false;
  char *end = nullptr;
  *value = strtol(word.c_str() + length, &end, 10);
  return *end == '\0' && *value >= 0;
}

// Parses one rule; false when it is not one (the reason goes to standard error).
bool parseRule(const std::string &line, Rule *rule) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < line.size()) {
    size_t start = line.find_first_not_of(" \t\r\n", at);
    if (start == std::string::npos)
      break;
    size_t end = line.find_first_of(" \t\r\n", start);
    if (end == std::string::npos)
      end = line.size();
    words.push_back(line.substr(start, end - start));
    at = end;
  }
  if (words.size() < 3) {
    fprintf(stderr, "faultfs: a rule needs an operation, a path and an action: %s\n", line.c_str());
    return false;
  }
  rule->op = words[0];
  rule->path = words[1];
  const std::string &action = words[2];
  size_t next = 3;
  bool needsArg = true;
  if (action == "fail")
    rule->action = ACT_FAIL;
  else if (action == "lost")
    rule->action = ACT_LOST;
  else if (action == "late")
    rule->action = ACT_LATE;
  else if (action == "delay")
    rule->action = ACT_DELAY;
  else if (action == "drop") {
    rule->action = ACT_DROP;
    needsArg = false;
  } else {
    fprintf(stderr, "faultfs: unknown action %s\n", action.c_str());
    return false;
  }
  if (needsArg) {
    bool good =
        next < words.size() && (rule->action == ACT_DELAY ? parseCount(words[next], "", &rule->arg)
                                                          : parseErrno(words[next], &rule->arg));
    if (!good) {
      fprintf(stderr, "faultfs: %s needs %s: %s\n", action.c_str(),
              rule->action == ACT_DELAY ? "microseconds" : "an error", line.c_str());
      return false;
    }
    next += 1;
  }
  for (; next < words.size(); ++next)
    if (!parseCount(words[next], "skip=", &rule->skip) &&
        !parseCount(words[next], "times=", &rule->times)) {
      fprintf(stderr, "faultfs: unknown word %s\n", words[next].c_str());
      return false;
    }
  return true;
}

// Reads the control file again when it has changed since it was last read (under the lock).
void refreshControl() {
  struct stat st;
  if (controlPath.empty() || stat(controlPath.c_str(), &st) != 0)
    return;
  if (st.st_mtim.tv_sec == controlTime.tv_sec && st.st_mtim.tv_nsec == controlTime.tv_nsec &&
      st.st_size == controlSize)
    return;
  controlTime = st.st_mtim;
  controlSize = st.st_size;
  controlRules.clear();
  FILE *file = fopen(controlPath.c_str(), "r");
  if (file == nullptr)
    return;
  char buffer[2048];
  while (fgets(buffer, sizeof buffer, file) != nullptr) {
    std::string line(buffer);
    size_t hash = line.find('#');
    if (hash != std::string::npos)
      line.erase(hash);
    if (line.find_first_not_of(" \t\r\n") == std::string::npos)
      continue;
    Rule rule;
    if (parseRule(line, &rule))
      controlRules.push_back(rule);
  }
  fclose(file);
}

bool pathMatches(const std::string &pattern, const char *path) {
  return path != nullptr && (pattern == "*" || fnmatch(pattern.c_str(), path, 0) == 0);
}

// Applies the rules to one request: waits where a delay rule says so and gives the first fault
// that a rule makes of it.
Verdict check(const char *op, const char *path, const char *otherPath = nullptr) {
  Verdict verdict;
  long delay = 0;
  pthread_mutex_lock(&lock);
  if (logFile != nullptr) {
    fprintf(logFile, "%s %s%s%s\n", op, path != nullptr ? path : "-", otherPath ? " " : "",
            otherPath ? otherPath : "");
    fflush(logFile);
  }
  refreshControl();
  for (std::vector<Rule> *rules : {&fixedRules, &controlRules})
    for (Rule &rule : *rules) {
      if (rule.op != "*" && rule.op != op)
        continue;
      if (!pathMatches(rule.path, path) && !pathMatches(rule.path, otherPath))
        continue;
      rule.seen += 1;
      if (rule.seen <= rule.skip || (rule.times > 0 && rule.seen > rule.skip + rule.times))
        continue;
      if (rule.action == ACT_DELAY)
        delay += rule.arg;
      else if (verdict.action == ACT_PASS) {
        verdict.action = rule.action;
        verdict.error = static_cast<int>(rule.arg);
      }
    }
  pthread_mutex_unlock(&lock);
  if (delay > 0) {
    struct timespec wait = {delay / 1000000, (delay % 1000000) * 1000};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
  }
  return verdict;
}

// The name of a path relative to the backing directory, which is the working directory.
const char *rel(const char *path) {
  return path[1] == '\0' ? "." : path + 1;
}

Handle *handleOf(struct fuse_file_info *fi) {
  return reinterpret_cast<Handle *>(static_cast<uintptr_t>(fi->fh));
}

// The result of a passthrough call: 0, or minus the errno it failed with.
int result(int returned) {
  return returned < 0 ? -errno : 0;
}

// What a request answers after it was done (`done`, 0 or -errno): a lost reply answers its
// error whatever happened.
int answer(const Verdict &v, int done) {
  return v.action == ACT_LOST ? -v.error : done;
}

// The first steps of every request: a failing rule answers at once, a dropping one answers
// success without the work.
#define BEGIN(op, path, ...)                                                                       \
  Verdict v = check(op, path __VA_OPT__(, ) __VA_ARGS__);                                          \
  if (v.action == ACT_FAIL)                                                                        \
    return -v.error;

#define BEGIN_CHANGE(op, path, ...)                                                                \
  BEGIN(op, path __VA_OPT__(, ) __VA_ARGS__)                                                       \
  if (v.action == ACT_DROP || v.action == ACT_LATE)                                                \
    return 0;

// Makes a new entry belong to the user who asked, when this program may give it away.
void ownAsCaller(const char *path) {
  if (geteuid() != 0)
    return;
  struct fuse_context *context = fuse_get_context();
  if (lchown(rel(path), context->uid, context->gid) != 0) {
    // the entry stays root's
  }
}

void *fsInit(struct fuse_conn_info *, struct fuse_config *cfg) {
  cfg->use_ino = 1;
  cfg->readdir_ino = 1;
  cfg->hard_remove = 1; // an open file that is removed is gone at once, as on a share
  cfg->nullpath_ok = 0; // every request names its path, so that rules can match it
  cfg->kernel_cache = 0;
  // Without a cache nothing of a file's data stays in the kernel either: every read and write
  // is a request, so a write that was never stored is never read back from memory.
  cfg->direct_io = cacheSeconds > 0 ? 0 : 1;
  cfg->entry_timeout = cacheSeconds;
  cfg->attr_timeout = cacheSeconds;
  cfg->negative_timeout = cacheSeconds;
  return nullptr;
}

int fsGetattr(const char *path, struct stat *st, struct fuse_file_info *fi) {
  BEGIN("getattr", path)
  int done = fi != nullptr ? result(fstat(handleOf(fi)->fd, st)) : result(lstat(rel(path), st));
  return answer(v, done);
}

int fsReadlink(const char *path, char *buffer, size_t size) {
  BEGIN("readlink", path)
  ssize_t length = readlink(rel(path), buffer, size - 1);
  if (length < 0)
    return -errno;
  buffer[length] = '\0';
  return answer(v, 0);
}

int fsMkdir(const char *path, mode_t mode) {
  BEGIN_CHANGE("mkdir", path)
  int done = result(mkdir(rel(path), mode));
  if (done == 0)
    ownAsCaller(path);
  return answer(v, done);
}

int fsUnlink(const char *path) {
  BEGIN_CHANGE("unlink", path)
  return answer(v, result(unlink(rel(path))));
}

int fsRmdir(const char *path) {
  BEGIN_CHANGE("rmdir", path)
  return answer(v, result(rmdir(rel(path))));
}

int fsSymlink(const char *target, const char *path) {
  BEGIN_CHANGE("symlink", path)
  int done = result(symlink(target, rel(path)));
  if (done == 0)
    ownAsCaller(path);
  return answer(v, done);
}

int fsRename(const char *from, const char *to, unsigned int flags) {
  BEGIN_CHANGE("rename", from, to)
  return answer(v, result(static_cast<int>(
                       syscall(SYS_renameat2, AT_FDCWD, rel(from), AT_FDCWD, rel(to), flags))));
}

int fsLink(const char *from, const char *to) {
  BEGIN_CHANGE("link", from, to)
  return answer(v, result(link(rel(from), rel(to))));
}

int fsChmod(const char *path, mode_t mode, struct fuse_file_info *fi) {
  BEGIN_CHANGE("chmod", path)
  int done =
      fi != nullptr ? result(fchmod(handleOf(fi)->fd, mode)) : result(chmod(rel(path), mode));
  return answer(v, done);
}

int fsChown(const char *path, uid_t uid, gid_t gid, struct fuse_file_info *fi) {
  BEGIN_CHANGE("chown", path)
  int done = fi != nullptr ? result(fchown(handleOf(fi)->fd, uid, gid))
                           : result(lchown(rel(path), uid, gid));
  return answer(v, done);
}

int fsTruncate(const char *path, off_t size, struct fuse_file_info *fi) {
  BEGIN_CHANGE("truncate", path)
  int done =
      fi != nullptr ? result(ftruncate(handleOf(fi)->fd, size)) : result(truncate(rel(path), size));
  return answer(v, done);
}

int openWith(const char *op, const char *path, struct fuse_file_info *fi, mode_t mode) {
  BEGIN(op, path)
  int fd = open(rel(path), fi->flags, mode);
  if (fd < 0)
    return -errno;
  if (mode != 0)
    ownAsCaller(path);
  fi->fh = reinterpret_cast<uintptr_t>(new Handle{fd, 0});
  if (v.action == ACT_LOST) {
    close(fd);
    delete handleOf(fi);
    return -v.error;
  }
  return 0;
}

int fsOpen(const char *path, struct fuse_file_info *fi) {
  return openWith("open", path, fi, 0);
}

int fsCreate(const char *path, mode_t mode, struct fuse_file_info *fi) {
  fi->flags |= O_CREAT;
  return openWith("create", path, fi, mode);
}

int fsRead(const char *path, char *buffer, size_t size, off_t offset, struct fuse_file_info *fi) {
  BEGIN("read", path)
  ssize_t got = pread(handleOf(fi)->fd, buffer, size, offset);
  if (got < 0)
    return -errno;
  return v.action == ACT_LOST ? -v.error : static_cast<int>(got);
}

int fsWrite(const char *path, const char *buffer, size_t size, off_t offset,
            struct fuse_file_info *fi) {
  BEGIN("write", path)
  if (v.action == ACT_DROP)
    return static_cast<int>(size);
  if (v.action == ACT_LATE) {
    pthread_mutex_lock(&lock);
    handleOf(fi)->lateError = v.error;
    pthread_mutex_unlock(&lock);
    return static_cast<int>(size);
  }
  ssize_t put = pwrite(handleOf(fi)->fd, buffer, size, offset);
  if (put < 0)
    return -errno;
  return v.action == ACT_LOST ? -v.error : static_cast<int>(put);
}

int fsStatfs(const char *path, struct statvfs *st) {
  BEGIN("statfs", path)
  return answer(v, result(statvfs(".", st)));
}

// The error a late rule left on the open file, given once.
int takeLateError(struct fuse_file_info *fi) {
  pthread_mutex_lock(&lock);
  int error = handleOf(fi)->lateError;
  handleOf(fi)->lateError = 0;
  pthread_mutex_unlock(&lock);
  return error;
}

int fsFlush(const char *path, struct fuse_file_info *fi) {
  BEGIN("flush", path)
  int late = takeLateError(fi);
  if (late != 0)
    return -late;
  return answer(v, 0);
}

int fsRelease(const char *path, struct fuse_file_info *fi) {
  check("release", path);
  Handle *handle = handleOf(fi);
  close(handle->fd);
  delete handle;
  return 0;
}

int fsFsync(const char *path, int dataOnly, struct fuse_file_info *fi) {
  BEGIN("fsync", path)
  int late = takeLateError(fi);
  if (late != 0)
    return -late;
  int fd = handleOf(fi)->fd;
  return answer(v, result(dataOnly ? fdatasync(fd) : fsync(fd)));
}

int fsSetxattr(const char *path, const char *name, const char *value, size_t size, int flags) {
  BEGIN_CHANGE("setxattr", path)
  return answer(v, result(lsetxattr(rel(path), name, value, size, flags)));
}

int fsGetxattr(const char *path, const char *name, char *value, size_t size) {
  BEGIN("getxattr", path)
  ssize_t length = lgetxattr(rel(path), name, value, size);
  if (length < 0)
    return -errno;
  return v.action == ACT_LOST ? -v.error : static_cast<int>(length);
}

int fsListxattr(const char *path, char *list, size_t size) {
  BEGIN("listxattr", path)
  ssize_t length = llistxattr(rel(path), list, size);
  if (length < 0)
    return -errno;
  return v.action == ACT_LOST ? -v.error : static_cast<int>(length);
}

int fsRemovexattr(const char *path, const char *name) {
  BEGIN_CHANGE("removexattr", path)
  return answer(v, result(lremovexattr(rel(path), name)));
}

int fsOpendir(const char *path, struct fuse_file_info *fi) {
  BEGIN("opendir", path)
  DIR *dir = opendir(rel(path));
  if (dir == nullptr)
    return -errno;
  if (v.action == ACT_LOST) {
    closedir(dir);
    return -v.error;
  }
  fi->fh = reinterpret_cast<uintptr_t>(dir);
  return 0;
}

int fsReaddir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t,
              struct fuse_file_info *fi, enum fuse_readdir_flags) {
  BEGIN("readdir", path)
  DIR *dir = reinterpret_cast<DIR *>(static_cast<uintptr_t>(fi->fh));
  rewinddir(dir);
  errno = 0;
  while (struct dirent *entry = readdir(dir)) {
    struct stat st;
    memset(&st, 0, sizeof st);
    st.st_ino = entry->d_ino;
    st.st_mode = static_cast<mode_t>(DTTOIF(entry->d_type));
    if (fill(buffer, entry->d_name, &st, 0, static_cast<enum fuse_fill_dir_flags>(0)) != 0)
      break;
  }
  return answer(v, -errno);
}

int fsReleasedir(const char *, struct fuse_file_info *fi) {
  closedir(reinterpret_cast<DIR *>(static_cast<uintptr_t>(fi->fh)));
  return 0;
}

int fsUtimens(const char *path, const struct timespec times[2], struct fuse_file_info *fi) {
  BEGIN_CHANGE("utimens", path)
  int done = fi != nullptr ? result(futimens(handleOf(fi)->fd, times))
                           : result(utimensat(AT_FDCWD, rel(path), times, AT_SYMLINK_NOFOLLOW));
  return answer(v, done);
}

int usage() {
  fprintf(stderr, "usage: faultfs [--rule RULE]... [--control FILE] [--delay-us N] "
                  "[--cache SECONDS] [--log FILE] [--foreground] BACKING MOUNTPOINT\n");
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  const char *backing = nullptr;
  const char *mountpoint = nullptr;
  bool foreground = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    Rule rule;
    if (arg == "--rule" && hasValue) {
      if (!parseRule(argv[++i], &rule))
        return 2;
      fixedRules.push_back(rule);
    } else if (arg == "--control" && hasValue) {
      controlPath = argv[++i];
      if (controlPath[0] != '/') {
        char *absolute = realpath(controlPath.c_str(), nullptr);
        if (absolute != nullptr) {
          controlPath = absolute;
          free(absolute);
        }
      }
    } else if (arg == "--delay-us" && hasValue) {
      if (!parseRule(std::string("* * delay ") + argv[++i], &rule))
        return 2;
      fixedRules.push_back(rule);
    } else if (arg == "--cache" && hasValue) {
      cacheSeconds = atof(argv[++i]);
    } else if (arg == "--log" && hasValue) {
      logFile = fopen(argv[++i], "a");
      if (logFile == nullptr) {
        perror("faultfs: --log");
        return 1;
      }
    } else if (arg == "--foreground") {
      foreground = true;
    } else if (arg[0] != '-' && backing == nullptr) {
      backing = argv[i];
    } else if (arg[0] != '-' && mountpoint == nullptr) {
      mountpoint = argv[i];
    } else {
      return usage();
    }
  }
  if (backing == nullptr || mountpoint == nullptr)
    return usage();
  int backingFd = open(backing, O_RDONLY | O_DIRECTORY);
  if (backingFd < 0) {
    perror("faultfs: the backing directory");
    return 1;
  }

  struct fuse_operations ops;
  memset(&ops, 0, sizeof ops);
  ops.init = fsInit;
  ops.getattr = fsGetattr;
  ops.readlink = fsReadlink;
  ops.mkdir = fsMkdir;
  ops.unlink = fsUnlink;
  ops.rmdir = fsRmdir;
  ops.symlink = fsSymlink;
  ops.rename = fsRename;
  ops.link = fsLink;
  ops.chmod = fsChmod;
  ops.chown = fsChown;
  ops.truncate = fsTruncate;
  ops.open = fsOpen;
  ops.create = fsCreate;
  ops.read = fsRead;
  ops.write = fsWrite;
  ops.statfs = fsStatfs;
  ops.flush = fsFlush;
  ops.release = fsRelease;
  ops.fsync = fsFsync;
  ops.setxattr = fsSetxattr;
  ops.getxattr = fsGetxattr;
  ops.listxattr = fsListxattr;
  ops.removexattr = fsRemovexattr;
  ops.opendir = fsOpendir;
  ops.readdir = fsReaddir;
  ops.releasedir = fsReleasedir;
  ops.utimens = fsUtimens;

  struct fuse_args args = FUSE_ARGS_INIT(0, nullptr);
  fuse_opt_add_arg(&args, argv[0]);
  fuse_opt_add_arg(&args, "-o");
  // Root's mount is open to every user, with the kernel checking permissions as on a disk.
  fuse_opt_add_arg(&args, geteuid() == 0
                              ? "fsname=faultfs,subtype=faultfs,default_permissions,allow_other"
                              : "fsname=faultfs,subtype=faultfs,default_permissions");
  struct fuse *fs = fuse_new(&args, &ops, sizeof ops, nullptr);
  if (fs == nullptr)
    return 1;
  if (fuse_mount(fs, mountpoint) != 0) {
    fuse_destroy(fs);
    return 1;
  }
  if (fuse_daemonize(foreground ? 1 : 0) != 0 || fchdir(backingFd) != 0) {
    fuse_unmount(fs);
    fuse_destroy(fs);
    return 1;
  }
  fuse_set_signal_handlers(fuse_get_session(fs));
  int status = fuse_loop_mt(fs, 0);
  fuse_remove_signal_handlers(fuse_get_session(fs));
  fuse_unmount(fs);
  fuse_destroy(fs);
  fuse_opt_free_args(&args);
  return status == 0 ? 0 : 1;
}
