// Helpers shared by every test suite: fixture files, scratch directories and
// whole-file reads and writes, access lists, fatal-message capture, a guard that silences
// the message stream for its lifetime, runs in child processes (as an
// unprivileged user, as another user, or with mounts of their own), and
// waits for what another process does.
#ifndef VANTREL_TESTS_SUPPORT_TESTING_H
#define VANTREL_TESTS_SUPPORT_TESTING_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/message.h"

namespace vantrel_testing {

//! Path of a fixture file in tests/data.
inline std::string fixture_path(const std::string& name) {
  return std::string(VANTREL_TEST_DATA) + "/" + name;
}

//! Opens a fixture file in tests/data; a missing file fails the calling test.
inline std::ifstream open_fixture(const std::string& name) {
  std::ifstream in(fixture_path(name));
  if (!in) ADD_FAILURE() << "missing fixture file " << fixture_path(name);
  return in;
}

//! The bytes of a file; empty when it cannot be read.
inline std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

//! Writes bytes to path and returns the path.
inline std::string write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

//! The number of lines of text that contain part.
inline int lines_with(const std::string& text, const std::string& part) {
  int n = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) n += line.find(part) != std::string::npos;
  return n;
}

//! The names in a directory, sorted.
inline std::vector<std::string> entries_of(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

//! The text of a symbolic link, or "no link".
inline std::string link_text(const std::string& path) {
  std::error_code error;
  const std::filesystem::path text = std::filesystem::read_symlink(path, error);
  return error ? "no link" : text.string();
}

//! Permission bits, owner and group of a file (zeros when there is none).
inline std::vector<unsigned> mode_and_owner(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return {0, 0, 0};
  return {unsigned(st.st_mode & 07777), unsigned(st.st_uid), unsigned(st.st_gid)};
}

//! An access list as the system stores it (a version, then the tag,
//! permissions and id of each entry): the owner, user uid (and before it
//! users 3000, 3001, ... as many as more asks), the owning group, the mask
//! and others.
inline std::string acl(const unsigned owner, const unsigned uid, const unsigned user,
                       const unsigned group, const unsigned mask, const unsigned other,
                       const unsigned more = 0) {
  const unsigned none = 0xffffffff;
  std::vector<std::array<unsigned, 3>> entries = {{1, owner, none}};
  for (unsigned i = 0; i < more; ++i) entries.push_back({2, user, 3000 + i});
  entries.insert(entries.end(),
                 {{2, user, uid}, {4, group, none}, {0x10, mask, none}, {0x20, other, none}});
  std::string bytes = {2, 0, 0, 0};
  for (const auto& [tag, perm, id] : entries)
    for (const unsigned v : {tag, tag >> 8, perm, perm >> 8, id, id >> 8, id >> 16, id >> 24})
      bytes += char(v & 0xff);
  return bytes;
}

constexpr const char* acl_access = "system.posix_acl_access";

//! The access list of a file as the system stores it; "" for none.
inline std::string acl_of(const std::string& path) {
  char bytes[8192];
  const ssize_t n = getxattr(path.c_str(), acl_access, bytes, sizeof bytes);
  return n > 0 ? std::string(bytes, std::size_t(n)) : "";
}

//! A fresh directory for one test's files, removed with them. It is open to
//! all, so that a process run as another user reaches the files in it.
class Scratch_dir {
 public:
  Scratch_dir() {
    std::string name = ::testing::TempDir() + "vantrel_test_XXXXXX";
    if (mkdtemp(&name[0]) == nullptr || chmod(name.c_str(), 0755) != 0)
      ADD_FAILURE() << "no scratch directory";
    path_ = name;
  }
  ~Scratch_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  Scratch_dir(const Scratch_dir&) = delete;
  Scratch_dir& operator=(const Scratch_dir&) = delete;

  const std::string& path() const { return path_; }
  //! The path of a file in the directory.
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  //! Writes bytes to the named file and returns its path.
  std::string write(const std::string& name, const std::string& bytes) const {
    return write_bytes(file(name), bytes);
  }
  //! The names in the directory, sorted.
  std::vector<std::string> entries() const { return entries_of(path_); }

 private:
  std::string path_;
};

//! Sends library messages to a private buffer until destroyed, then restores
//! standard error, also when the test throws.
class Quiet_messages {
 public:
  Quiet_messages() { vantrel::Message::set_stream(buffer_); }
  ~Quiet_messages() { vantrel::Message::set_stream(std::cerr); }
  Quiet_messages(const Quiet_messages&) = delete;
  Quiet_messages& operator=(const Quiet_messages&) = delete;
  std::string text() const { return buffer_.str(); }

 private:
  std::ostringstream buffer_;
};

//! The text of the fatal message that operation raises (printed nowhere), or "no error".
template <class F> std::string fatal_text(F&& operation) {
  Quiet_messages quiet;
  try {
    operation();
  } catch (const vantrel::Message_fatal& m) {
    return m.text();
  }
  return "no error";
}

//! The user an unprivileged run takes when the tests run as root.
constexpr int unprivileged_id = 65534;

//! What f returns when run in a child process: as user uid, group gid and no
//! supplementary groups when uid is given (the tests run as root then).
//! "child failed" when the child could not take that user, or f threw or
//! its text could not be sent.
inline std::string in_child(const std::function<std::string()>& f, const int uid = -1,
                            const int gid = -1) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    // No supplementary groups (the system call: the child has one thread,
    // and the C library's declaration would clash with names in tests).
    if (uid >= 0 && (syscall(SYS_setgroups, 0, nullptr) != 0 || setgid(gid >= 0 ? gid : uid) != 0 ||
                     setuid(uid) != 0))
      _exit(3);
    std::string text;
    try {
      text = f();
    } catch (...) {
      _exit(5);
    }
    _exit(write(fds[1], text.data(), text.size()) == ssize_t(text.size()) ? 0 : 4);
  }
  close(fds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : "child failed";
}

//! What f returns when run by an unprivileged user: a child process that
//! gives up root first, so that file permissions apply (f itself when not
//! root). Such a run reaches only what is open to that user, so it works on
//! copies in a scratch directory, never on files under the checkout.
inline std::string as_unprivileged(const std::function<std::string()>& f) {
  return geteuid() != 0 ? f() : in_child(f, unprivileged_id);
}

//! Whether done() holds within a minute of tries: a wide margin for what
//! happens at once, however busy the machine.
inline bool within_a_minute(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  for (; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(std::chrono::microseconds(200)))
    if (done()) return true;
  return false;
}

//! The first child that the main thread of a process starts (within a
//! minute); 0 when none.
inline pid_t first_child_of(const pid_t pid) {
  const std::string id = std::to_string(pid);
  pid_t child = 0;
  within_a_minute(
      [&] { return bool(std::ifstream("/proc/" + id + "/task/" + id + "/children") >> child); });
  return child;
}

//! What f returns when run in a child process with mounts of its own, which
//! no other process sees and which go with it; "no namespace" where there
//! can be none (not root, or a system that refuses).
inline std::string in_mount_namespace(const std::function<std::string()>& f) {
  if (geteuid() != 0) return "no namespace";
  return in_child([&] {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      return std::string("no namespace");
    return f();
  });
}

//! Installs a seccomp filter of n instructions in this process: false where
//! that cannot be done.
inline bool with_filter(sock_filter* filter, const unsigned short n) {
  const sock_fprog program = {n, filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

//! Makes opens of files without a name (O_TMPFILE) fail in this process as
//! on filesystems that make none (NFS, vfat): false where that cannot be
//! done.
inline bool without_unnamed_files() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),  // the flags' low half
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
  return with_filter(filter, sizeof filter / sizeof filter[0]);
}

//! A system call made to fail with error: every call of it, or only those
//! whose third argument is size (a write of that many bytes).
struct Failing {
  unsigned nr, error;
  long size = -1;
};

//! Makes the calls given fail in this process, as a full filesystem or a
//! quota may fail them: false where that cannot be done.
inline bool failing_calls(const std::vector<Failing>& calls) {
  std::vector<sock_filter> filter;
  for (const Failing& call : calls) {
    const bool sized = call.size >= 0;
    filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, call.nr, 0, __u8(sized ? 3 : 1)));
    if (sized) {  // the low half of the argument
      filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])));
      filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, unsigned(call.size), 0, 1));
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | call.error));
  }
  filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  return with_filter(filter.data(), (unsigned short)filter.size());
}

//! Makes every call of the system call nr fail with error in this process.
inline bool failing_call(const unsigned nr, const unsigned error) {
  return failing_calls({{nr, error}});
}

}  // namespace vantrel_testing

#endif
