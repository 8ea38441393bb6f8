// What the real executable does when ./01_LumenDrift.png is not simply a new
// file: a link, a device, a named pipe, a socket, a picture with its own
// permissions or owner, a folder that refuses new files. The picture is saved
// where a careful Unix tool would save it, nothing that is not a regular file
// is ever replaced, and what cannot be written is reported before the render.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/system_memory.hpp"
#include "scene/render_limits.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

namespace fs = std::filesystem;
using test::leftover_temporaries;
using test::RunResult;
using test::TempDir;

const std::string kSmall = " -w 64 -h 64 -a 1";
const std::string kCannotOpen = "E: Cannot open output PNG: ./01_LumenDrift.png\n";
const std::vector<std::string> kNone;

std::string exe() { return std::string("'") + NEONVALE_EXE + "'"; }

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct stat status_of(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

struct Workspace {
  TempDir dir;
  Workspace() { dir.install_assets(); }
  fs::path output() const { return dir.path() / "01_LumenDrift.png"; }
  fs::path at(const std::string& name) const { return dir.path() / name; }
  RunResult run(const std::string& prefix = "", const std::string& args = kSmall) const {
    return test::run_in(dir.path(), prefix + exe() + args);
  }
};

// The picture a plain run with `args` writes, made once per arguments.
const std::string& reference(const std::string& args = kSmall) {
  static std::map<std::string, std::string> made;
  auto found = made.find(args);
  if (found != made.end()) return found->second;
  Workspace w;
  const RunResult r = w.run("", args);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  return made[args] = test::read_file(w.output());
}

void expect_success(const RunResult& r) {
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

void expect_failure(const RunResult& r, const std::string& line) {
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.out, line);
  EXPECT_EQ(r.err, "");
}

TEST(OutputLinks, PictureGoesToTheTargetAndTheLinkStaysALink) {
  TempDir elsewhere;
  const struct {
    const char* what;
    std::string link;           // what ./01_LumenDrift.png points to
    std::string target;         // the file it leads to, below the workspace unless absolute
    bool target_exists;
  } cases[] = {
      {"to an older picture", "pictures/real.png", "pictures/real.png", true},
      {"dangling", "pictures/new.png", "pictures/new.png", false},
      {"through a second link", "pictures/alias.png", "pictures/real.png", true},
      {"absolute, to another folder", (elsewhere.path() / "far.png").string(),
       (elsewhere.path() / "far.png").string(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Workspace w;
    fs::create_directory(w.at("pictures"));
    if (c.target_exists) write_file(w.at(c.target), "an older picture");
    fs::create_symlink("real.png", w.at("pictures/alias.png"));
    fs::create_symlink(c.link, w.output());
    expect_success(w.run());
    ASSERT_TRUE(fs::is_symlink(w.output()));
    EXPECT_EQ(fs::read_symlink(w.output()).string(), c.link);
    EXPECT_TRUE(fs::is_symlink(w.at("pictures/alias.png")));
    const fs::path target = fs::path(c.target).is_absolute() ? fs::path(c.target) : w.at(c.target);
    EXPECT_TRUE(test::read_file(target) == reference()) << "not the picture";
    EXPECT_EQ(leftover_temporaries(w.dir.path()), kNone);
    EXPECT_EQ(leftover_temporaries(w.at("pictures")), kNone);
  }
  EXPECT_EQ(leftover_temporaries(elsewhere.path()), kNone);
}

TEST(OutputLinks, LoopCannotBeOpened) {
  Workspace w;
  fs::create_symlink("other.png", w.output());
  fs::create_symlink("01_LumenDrift.png", w.at("other.png"));
  expect_failure(w.run(), kCannotOpen);
  EXPECT_EQ(fs::read_symlink(w.output()), "other.png");
  EXPECT_EQ(fs::read_symlink(w.at("other.png")), "01_LumenDrift.png");
  EXPECT_EQ(leftover_temporaries(w.dir.path()), kNone);
}

// A device node made in the workspace (the null and full devices) when this
// process may make one and open it, else the system's null device, which an
// unprivileged process could not replace anyway. Empty when neither works.
fs::path device_node(const Workspace& w, const char* name, unsigned minor) {
  fs::create_directories(w.at("dev"));
  const fs::path node = w.at("dev") / name;
  if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0) {
    const int fd = ::open(node.c_str(), O_WRONLY);
    if (fd >= 0) {
      ::close(fd);
      return node;
    }
    fs::remove(node);
  }
  if (::geteuid() != 0 && minor == 3) return "/dev/null";
  return {};
}

void expect_same_device(const fs::path& node, unsigned minor) {
  const struct stat st = status_of(node);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << node << " is no longer a device";
  EXPECT_EQ(major(st.st_rdev), 1u);
  EXPECT_EQ(minor(st.st_rdev), minor);
}

TEST(OutputDevice, IsWrittenAndNeverReplaced) {
  {
    Workspace w;
    const fs::path null = device_node(w, "null", 3);
    if (null.empty()) GTEST_SKIP() << "no null device to write to";
    fs::create_symlink(null, w.output());
    expect_success(w.run());
    expect_same_device(null, 3);
    EXPECT_TRUE(fs::is_symlink(w.output()));
    EXPECT_EQ(leftover_temporaries(w.at("dev")), kNone);
  }
  {
    // A device that refuses the bytes: the write fails, the node stays.
    Workspace w;
    const fs::path full = device_node(w, "full", 7);
    if (full.empty()) GTEST_SKIP() << "cannot make a full device here";
    fs::create_symlink(full, w.output());
    expect_failure(w.run(), "E: Cannot write output PNG: ./01_LumenDrift.png\n");
    expect_same_device(full, 7);
  }
}

// Reads a named pipe to its end on a thread of its own.
class PipeReader {
 public:
  explicit PipeReader(const fs::path& pipe)
      : thread_([this, pipe] {
          const int fd = ::open(pipe.c_str(), O_RDONLY);  // waits for the writer
          if (fd < 0) return;
          char buffer[65536];
          ssize_t n;
          while ((n = ::read(fd, buffer, sizeof buffer)) > 0) bytes_.append(buffer, std::size_t(n));
          ::close(fd);
        }) {}
  // Once the writer is gone: a reader still waiting for one gets an empty
  // stream instead of waiting for ever.
  std::string finish(const fs::path& pipe) {
    const int release = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (release >= 0) ::close(release);
    thread_.join();
    return bytes_;
  }

 private:
  std::string bytes_;
  std::thread thread_;
};

TEST(OutputPipe, ReaderReceivesTheWholePicture) {
  // The larger picture does not fit in a pipe's buffer: it arrives only if
  // the program writes all of it as the reader takes it.
  for (const std::string& args : {kSmall, std::string(" -w 320 -h 180 -a 1")}) {
    SCOPED_TRACE(args);
    Workspace w;
    ASSERT_EQ(::mkfifo(w.output().c_str(), 0644), 0);
    PipeReader reader(w.output());
    const RunResult r = w.run("", args);
    const std::string received = reader.finish(w.output());
    expect_success(r);
    EXPECT_EQ(received.size(), reference(args).size());
    EXPECT_TRUE(received == reference(args)) << "not the picture";
    EXPECT_TRUE(S_ISFIFO(status_of(w.output()).st_mode)) << "the pipe was replaced";
    EXPECT_EQ(leftover_temporaries(w.dir.path()), kNone);
  }
}

// A socket cannot be opened as a file; it is reported and left in place.
TEST(OutputSocket, CannotBeOpened) {
  Workspace w;
  const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listening, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(w.output().string().size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, w.output().c_str());
  ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  expect_failure(w.run(), kCannotOpen);
  EXPECT_TRUE(S_ISSOCK(status_of(w.output()).st_mode));
  ::close(listening);
}

TEST(OutputPermissions, ReplacedPictureKeepsItsModeOwnerAndGroup) {
  Workspace w;
  write_file(w.output(), "a private picture");
  ASSERT_EQ(::chmod(w.output().c_str(), 0600), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(w.output().c_str(), 65534, 65534), 0);
  }
  expect_success(w.run("umask 022; "));
  const struct stat st = status_of(w.output());
  EXPECT_EQ(st.st_mode & 07777, 0600u) << "a private picture became readable by others";
  if (root) {
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
  }
  EXPECT_TRUE(test::read_file(w.output()) == reference());
}

TEST(OutputPermissions, WriteProtectedPictureIsNotReplaced) {
  Workspace w;
  std::string prefix;
  if (!test::unprivileged_prefix(w.dir.path(), &prefix)) GTEST_SKIP() << "cannot drop root's capabilities";
  write_file(w.output(), "a protected picture");
  ASSERT_EQ(::chmod(w.output().c_str(), 0444), 0);
  expect_failure(w.run(prefix), kCannotOpen);
  EXPECT_EQ(test::read_file(w.output()), "a protected picture");
  EXPECT_EQ(status_of(w.output()).st_mode & 07777, 0444u);
  EXPECT_EQ(leftover_temporaries(w.dir.path()), kNone);
}

// No temporary can be made beside the picture, but the picture itself may be
// written: it is overwritten in place, the same file, cut to the new length.
TEST(OutputPermissions, FolderThatRefusesNewFilesHasItsPictureWrittenInPlace) {
  Workspace w;
  std::string prefix;
  if (!test::unprivileged_prefix(w.dir.path(), &prefix)) GTEST_SKIP() << "cannot drop root's capabilities";
  const std::string older(reference().size() * 2, 'x');  // longer than the new picture
  write_file(w.output(), older);
  const ino_t inode = status_of(w.output()).st_ino;
  ASSERT_EQ(::chmod(w.dir.path().c_str(), 0555), 0);
  const RunResult r = w.run(prefix);
  ::chmod(w.dir.path().c_str(), 0755);
  expect_success(r);
  EXPECT_EQ(status_of(w.output()).st_ino, inode);
  EXPECT_TRUE(test::read_file(w.output()) == reference()) << "not exactly the picture";
  EXPECT_EQ(leftover_temporaries(w.dir.path()), kNone);
}

// Named temporaries that a killed run left behind (these were never locked
// by a living process) are removed by the next run; other files stay.
TEST(OutputTemporaries, LeftoversOfKilledRunsGoWithTheNextRun) {
  Workspace w;
  write_file(w.at(".01_LumenDrift.png.tmp-Ab12Cd"), "half a picture");
  write_file(w.at(".01_LumenDrift.png.tmp-ZZZZZZ"), "");
  write_file(w.at(".01_LumenDrift.png.tmp-notes.txt"), "not a temporary");
  expect_success(w.run());
  EXPECT_EQ(leftover_temporaries(w.dir.path()), std::vector<std::string>{".01_LumenDrift.png.tmp-notes.txt"});
  EXPECT_TRUE(test::read_file(w.output()) == reference());
}

// Every output that cannot be opened is reported before the render: each
// run asks for the default picture, whose render takes far more than the few
// seconds of processor time allowed, so a failure found only at the save
// would end the run by SIGXCPU instead of the message.
TEST(OutputBeforeRender, EveryOpenFailureComesBeforeTheRender) {
  const auto available = available_memory_bytes();
  if (available && *available < estimate_peak_bytes(RenderSettings{}))
    GTEST_SKIP() << "the default render would be refused for memory first";
  Workspace probe;
  std::string unprivileged;
  const bool can_drop = test::unprivileged_prefix(probe.dir.path(), &unprivileged);
  const std::string few_cpu_seconds = "ulimit -t 5; ";

  struct Case {
    const char* what;
    bool needs_permissions;
    void (*set_up)(const Workspace&);
  };
  const Case cases[] = {
      {"a loop of links", false,
       [](const Workspace& w) {
         fs::create_symlink("01_LumenDrift.png", w.output());
       }},
      {"a link into a missing folder", false,
       [](const Workspace& w) { fs::create_symlink("missing/new.png", w.output()); }},
      {"a folder in its place", false, [](const Workspace& w) { fs::create_directory(w.output()); }},
      {"a write-protected picture", true,
       [](const Workspace& w) {
         write_file(w.output(), "protected");
         fs::permissions(w.output(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
       }},
      {"a folder that refuses new files", true,
       [](const Workspace& w) { fs::permissions(w.dir.path(), fs::perms::owner_read | fs::perms::owner_exec); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_permissions && !can_drop) continue;
    Workspace w;
    c.set_up(w);
    const RunResult r = w.run(few_cpu_seconds + (c.needs_permissions ? unprivileged : ""), "");
    fs::permissions(w.dir.path(), fs::perms::owner_all, fs::perm_options::add);
    expect_failure(r, kCannotOpen);
    EXPECT_EQ(leftover_temporaries(w.dir.path()), kNone);
  }
}

}  // namespace
}  // namespace neonvale
