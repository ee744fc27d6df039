/* Fails one system call of a run: loaded with LD_PRELOAD, it counts the calls a program
 * makes on the files of its output directory (and its threads and allocations) and fails
 * the n-th call of one kind with a chosen errno.
 *
 *   FAULT_DIR     absolute path of the output directory; only files below it count
 *   FAULT_CALL    open, write, pwrite, fsync, fdatasync, close, rename, mkdir,
 *                 pthread_create or malloc (unset: count only)
 *   FAULT_N       the call that fails, counted from 1 (0: none)
 *   FAULT_ERRNO   the errno it fails with, as a number
 *   FAULT_COUNTS  file the shim maps and counts every kind into (an array of longs, in
 *                 the order above), so the driver learns how many calls a run made even
 *                 when the run dies of a signal; one more long says whether the failed
 *                 call was the close of a descriptor that had written bytes, and the
 *                 next bytes name the file of the failed call
 *   FAULT_TIME    a fixed value for time(), so that the logs of two runs compare equal
 *
 * Nothing is counted before main starts: the loader's and the static constructors'
 * calls are no part of what a run does. stdio streams on output files are rebuilt on
 * the counted calls (fopencookie), since glibc's own stdio writes through internal
 * entry points that no preloaded library sees. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

enum kind { K_OPEN, K_WRITE, K_PWRITE, K_FSYNC, K_FDATASYNC, K_CLOSE, K_RENAME, K_MKDIR, K_THREAD, K_MALLOC, K_COUNT };
static const char* const kind_names[K_COUNT] = {"open",  "write",  "pwrite", "fsync",          "fdatasync",
                                                "close", "rename", "mkdir",  "pthread_create", "malloc"};

static int armed;
static int chosen = K_COUNT;
static long fault_n;
static int fault_errno = EIO;
static char out_dir[PATH_MAX];
static size_t out_len;
/* Counts of each kind, then whether a failed close lost written bytes; then the file. */
#define WHERE_SIZE 512
static _Atomic long local_counts[K_COUNT + 1];
static _Atomic long* counts = local_counts;
static char local_where[WHERE_SIZE];
static char* where = local_where;
static int fixed_time_set;
static time_t fixed_time;

#define MAX_FD 4096
enum { UNTRACKED, TRACKED, WRITTEN };  /* WRITTEN: a file of the output that bytes went to */
static _Atomic unsigned char tracked[MAX_FD];

static int (*real_open)(const char*, int, ...);
static int (*real_openat)(int, const char*, int, ...);
static ssize_t (*real_write)(int, const void*, size_t);
static ssize_t (*real_writev)(int, const struct iovec*, int);
static ssize_t (*real_pwrite)(int, const void*, size_t, off_t);
static int (*real_fsync)(int);
static int (*real_fdatasync)(int);
static int (*real_close)(int);
static int (*real_renameat2)(int, const char*, int, const char*, unsigned);
static int (*real_mkdirat)(int, const char*, mode_t);
static int (*real_pthread_create)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
static FILE* (*real_fopen)(const char*, const char*);
static FILE* (*real_fdopen)(int, const char*);
static int (*real_fclose)(FILE*);
static int (*real_fileno)(FILE*);
extern void* __libc_malloc(size_t);

/* Whether this call is the one to fail; every call of every kind is counted. The file
 * of the failed call (its descriptor's or its path) is noted for the driver. */
static int hit(int k, int fd, const char* path) {
  if (!armed) return 0;
  const long n = atomic_fetch_add(&counts[k], 1) + 1;
  if (k != chosen || n != fault_n) return 0;
  if (fd >= 0) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t len = readlink(link, where, WHERE_SIZE - 1);
    where[len > 0 ? len : 0] = 0;
  } else if (path) {
    snprintf(where, WHERE_SIZE, "%s", path);
  }
  errno = fault_errno;
  return 1;
}

static int is_tracked(int fd) { return fd >= 0 && fd < MAX_FD && tracked[fd]; }
static void track(int fd, int state) {
  if (fd >= 0 && fd < MAX_FD) tracked[fd] = (unsigned char)state;
}

static ssize_t wrote(int fd, ssize_t n) {
  if (n > 0) track(fd, WRITTEN);
  return n;
}

/* Appends `path` to `buf` component by component, dropping "." and empty ones and
 * taking ".." back a level. */
static void append_normalised(char* buf, size_t cap, const char* path) {
  size_t len = strlen(buf);
  while (*path) {
    const char* end = strchrnul(path, '/');
    const size_t n = (size_t)(end - path);
    if (n == 2 && path[0] == '.' && path[1] == '.') {
      while (len > 0 && buf[len - 1] != '/') --len;
      if (len > 1) --len;
      buf[len] = 0;
    } else if (n > 0 && !(n == 1 && path[0] == '.') && len + n + 2 < cap) {
      if (len == 0 || buf[len - 1] != '/') buf[len++] = '/';
      memcpy(buf + len, path, n);
      len += n;
      buf[len] = 0;
    }
    path = *end ? end + 1 : end;
  }
}

static int under_output(int dirfd, const char* path) {
  if (out_len == 0 || path == NULL) return 0;
  if (path[0] != '/' && dirfd != AT_FDCWD) return is_tracked(dirfd);
  char buf[2 * PATH_MAX] = "";
  if (path[0] != '/' && getcwd(buf, PATH_MAX) == NULL) return 0;
  append_normalised(buf, sizeof buf, path);
  return strncmp(buf, out_dir, out_len) == 0 && (buf[out_len] == '/' || buf[out_len] == 0);
}

static void map_counts(const char* file) {
  const int fd = real_open(file, O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  const size_t size = sizeof local_counts + WHERE_SIZE;
  if (ftruncate(fd, (off_t)size) == 0) {
    char* p = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p != MAP_FAILED) {
      counts = (_Atomic long*)p;
      where = p + sizeof local_counts;
    }
  }
  real_close(fd);
}

static void read_settings(void) {
  const char* dir = getenv("FAULT_DIR");
  if (dir && dir[0] == '/' && strlen(dir) < sizeof out_dir) {
    append_normalised(out_dir, sizeof out_dir, dir);
    out_len = strlen(out_dir);
  }
  const char* call = getenv("FAULT_CALL");
  for (int k = 0; call && k < K_COUNT; ++k)
    if (strcmp(call, kind_names[k]) == 0) chosen = k;
  if (getenv("FAULT_N")) fault_n = atol(getenv("FAULT_N"));
  if (getenv("FAULT_ERRNO")) fault_errno = atoi(getenv("FAULT_ERRNO"));
  if (getenv("FAULT_TIME")) {
    fixed_time_set = 1;
    fixed_time = (time_t)atoll(getenv("FAULT_TIME"));
  }
  if (getenv("FAULT_COUNTS")) map_counts(getenv("FAULT_COUNTS"));
}

__attribute__((constructor)) static void fault_shim_init(void) {
  real_open = dlsym(RTLD_NEXT, "open");
  real_openat = dlsym(RTLD_NEXT, "openat");
  real_write = dlsym(RTLD_NEXT, "write");
  real_writev = dlsym(RTLD_NEXT, "writev");
  real_pwrite = dlsym(RTLD_NEXT, "pwrite");
  real_fsync = dlsym(RTLD_NEXT, "fsync");
  real_fdatasync = dlsym(RTLD_NEXT, "fdatasync");
  real_close = dlsym(RTLD_NEXT, "close");
  real_renameat2 = dlsym(RTLD_NEXT, "renameat2");
  real_mkdirat = dlsym(RTLD_NEXT, "mkdirat");
  real_pthread_create = dlsym(RTLD_NEXT, "pthread_create");
  real_fopen = dlsym(RTLD_NEXT, "fopen");
  real_fdopen = dlsym(RTLD_NEXT, "fdopen");
  real_fclose = dlsym(RTLD_NEXT, "fclose");
  real_fileno = dlsym(RTLD_NEXT, "fileno");
  read_settings();
}

/* ---- main: arms the counting ---- */

typedef int (*main_fn)(int, char**, char**);
static main_fn program_main;

static int armed_main(int argc, char** argv, char** envp) {
  armed = 1;
  return program_main(argc, argv, envp);
}

int __libc_start_main(main_fn main, int argc, char** argv, void (*init)(void), void (*fini)(void),
                      void (*rtld_fini)(void), void* stack_end) {
  int (*next)(main_fn, int, char**, void (*)(void), void (*)(void), void (*)(void), void*) =
      dlsym(RTLD_NEXT, "__libc_start_main");
  program_main = main;
  return next(armed_main, argc, argv, init, fini, rtld_fini, stack_end);
}

/* ---- opening ---- */

static int open_counted(int dirfd, const char* path, int flags, mode_t mode) {
  const int out = under_output(dirfd, path);
  if (out && hit(K_OPEN, -1, path)) return -1;
  const int fd = real_openat(dirfd, path, flags, mode);
  if (out) track(fd, TRACKED);
  return fd;
}

static mode_t mode_arg(int flags, va_list ap) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(ap, int) : 0;
}

int open(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = mode_arg(flags, ap);
  va_end(ap);
  return open_counted(AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) __attribute__((alias("open")));

int openat(int dirfd, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = mode_arg(flags, ap);
  va_end(ap);
  return open_counted(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) __attribute__((alias("openat")));

int __open_2(const char* path, int flags) { return open_counted(AT_FDCWD, path, flags, 0); }
int __open64_2(const char* path, int flags) __attribute__((alias("__open_2")));
int creat(const char* path, mode_t mode) { return open_counted(AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, mode); }
int creat64(const char* path, mode_t mode) __attribute__((alias("creat")));

/* ---- writing, flushing, closing ---- */

ssize_t write(int fd, const void* buf, size_t n) {
  if (!is_tracked(fd)) return real_write(fd, buf, n);
  if (hit(K_WRITE, fd, NULL)) return -1;
  return wrote(fd, real_write(fd, buf, n));
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
  if (!is_tracked(fd)) return real_writev(fd, iov, count);
  if (hit(K_WRITE, fd, NULL)) return -1;
  return wrote(fd, real_writev(fd, iov, count));
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) {
  if (!is_tracked(fd)) return real_pwrite(fd, buf, n, offset);
  if (hit(K_PWRITE, fd, NULL)) return -1;
  return wrote(fd, real_pwrite(fd, buf, n, offset));
}

ssize_t pwrite64(int fd, const void* buf, size_t n, off_t offset) __attribute__((alias("pwrite")));

int fsync(int fd) {
  if (is_tracked(fd) && hit(K_FSYNC, fd, NULL)) return -1;
  return real_fsync(fd);
}

int fdatasync(int fd) {
  if (is_tracked(fd) && hit(K_FDATASYNC, fd, NULL)) return -1;
  return real_fdatasync(fd);
}

/* A failed close still releases the descriptor, as the kernel's does. Where bytes were
 * written through it, they may not have reached the file: the driver is told. */
int close(int fd) {
  if (!is_tracked(fd)) return real_close(fd);
  const int written = tracked[fd] == WRITTEN;
  const int failed = hit(K_CLOSE, fd, NULL);
  track(fd, UNTRACKED);
  const int rc = real_close(fd);
  if (!failed) return rc;
  if (written) counts[K_COUNT] = 1;
  errno = fault_errno;
  return -1;
}

/* ---- names and directories ---- */

int renameat2(int olddirfd, const char* from, int newdirfd, const char* to, unsigned flags) {
  if ((under_output(olddirfd, from) || under_output(newdirfd, to)) && hit(K_RENAME, -1, to)) return -1;
  return real_renameat2(olddirfd, from, newdirfd, to, flags);
}

int renameat(int olddirfd, const char* from, int newdirfd, const char* to) {
  return renameat2(olddirfd, from, newdirfd, to, 0);
}

int rename(const char* from, const char* to) { return renameat2(AT_FDCWD, from, AT_FDCWD, to, 0); }

int mkdirat(int dirfd, const char* path, mode_t mode) {
  if (under_output(dirfd, path) && hit(K_MKDIR, -1, path)) return -1;
  return real_mkdirat(dirfd, path, mode);
}

int mkdir(const char* path, mode_t mode) { return mkdirat(AT_FDCWD, path, mode); }

/* ---- threads, memory, time ---- */

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
  if (hit(K_THREAD, -1, NULL)) return EAGAIN;
  return real_pthread_create(thread, attr, start, arg);
}

void* malloc(size_t n) {
  if (hit(K_MALLOC, -1, NULL)) return NULL;
  return __libc_malloc(n);
}

time_t time(time_t* t) {
  struct timespec now;
  if (!fixed_time_set) clock_gettime(CLOCK_REALTIME, &now);
  const time_t v = fixed_time_set ? fixed_time : now.tv_sec;
  if (t) *t = v;
  return v;
}

/* ---- stdio streams on output files, rebuilt on the calls above ---- */

static ssize_t cookie_read(void* c, char* buf, size_t n) { return read((int)(intptr_t)c, buf, n); }

static ssize_t cookie_write(void* c, const char* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t w = write((int)(intptr_t)c, buf + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += (size_t)w;
  }
  return (ssize_t)done;
}

static int cookie_seek(void* c, off64_t* pos, int whence) {
  const off_t r = lseek((int)(intptr_t)c, *pos, whence);
  if (r < 0) return -1;
  *pos = r;
  return 0;
}

static int cookie_close(void* c) { return close((int)(intptr_t)c); }

#define MAX_STREAMS 256
static struct {
  FILE* stream;
  int fd;
} streams[MAX_STREAMS];
static pthread_mutex_t streams_lock = PTHREAD_MUTEX_INITIALIZER;

static int stream_fd(FILE* f, int forget) {
  int fd = -1;
  pthread_mutex_lock(&streams_lock);
  for (int i = 0; i < MAX_STREAMS && fd < 0; ++i)
    if (streams[i].stream == f && f != NULL) {
      fd = streams[i].fd;
      if (forget) streams[i].stream = NULL;
    }
  pthread_mutex_unlock(&streams_lock);
  return fd;
}

static FILE* wrap_fd(int fd, const char* mode) {
  const cookie_io_functions_t io = {cookie_read, cookie_write, cookie_seek, cookie_close};
  FILE* f = fopencookie((void*)(intptr_t)fd, mode, io);
  if (f == NULL) return NULL;
  pthread_mutex_lock(&streams_lock);
  for (int i = 0; i < MAX_STREAMS; ++i)
    if (streams[i].stream == NULL) {
      streams[i].stream = f;
      streams[i].fd = fd;
      break;
    }
  pthread_mutex_unlock(&streams_lock);
  return f;
}

static int mode_flags(const char* mode) {
  int flags = strchr(mode, '+') ? O_RDWR : mode[0] == 'r' ? O_RDONLY : O_WRONLY;
  if (mode[0] == 'w') flags |= O_CREAT | O_TRUNC;
  if (mode[0] == 'a') flags |= O_CREAT | O_APPEND;
  if (strchr(mode, 'x')) flags |= O_EXCL;
  if (strchr(mode, 'e')) flags |= O_CLOEXEC;
  return flags;
}

FILE* fopen(const char* path, const char* mode) {
  if (!under_output(AT_FDCWD, path)) return real_fopen(path, mode);
  const int fd = open_counted(AT_FDCWD, path, mode_flags(mode), 0666);
  if (fd < 0) return NULL;
  FILE* f = wrap_fd(fd, mode);
  if (f == NULL) close(fd);
  return f;
}

FILE* fopen64(const char* path, const char* mode) __attribute__((alias("fopen")));

FILE* fdopen(int fd, const char* mode) { return is_tracked(fd) ? wrap_fd(fd, mode) : real_fdopen(fd, mode); }

int fclose(FILE* f) {
  stream_fd(f, 1);
  return real_fclose(f);
}

int fileno(FILE* f) {
  const int fd = stream_fd(f, 0);
  return fd >= 0 ? fd : real_fileno(f);
}

int fileno_unlocked(FILE* f) { return fileno(f); }
