#include "base/output_file.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "base/error.h"
#include "test_util.h"

namespace vantrelle {
namespace {

using testing_util::ReadFile;
using testing_util::TempDir;
using testing_util::WriteFile;

class OutputFileTest : public testing::Test {
 protected:
  // Opens the log at \a name, writes one line and closes it; the error's
  // description when it is refused.
  std::string WriteLog(const std::string& name) {
    try {
      std::FILE* file = OpenRunLog(dir_.File(name));
      std::fputs("new line\n", file);
      std::fclose(file);
      return "";
    } catch (const Error& error) {
      return error.Description();
    }
  }
  TempDir dir_;
};

TEST_F(OutputFileTest, LogFollowsOnlyItsOwnLinksAndKeepsItsOwnFileInPlace) {
  WriteFile(dir_.File("target"), "last month's log");
  WriteFile(dir_.File("victim"), "victim's bytes");
  std::filesystem::create_symlink(dir_.File("target"), dir_.File("own_link.log"));
  std::filesystem::create_symlink(dir_.File("nowhere"), dir_.File("dangling.log"));
  std::filesystem::create_symlink(dir_.File("victim"), dir_.File("planted.log"));
  // Another user's link is planted; root can make one to stand for it.
  const bool planted = ::lchown(dir_.File("planted.log").c_str(), 65534, 65534) == 0;
  WriteFile(dir_.File("own.log"), "last month's log, longer than the new one");
  struct stat before;
  ASSERT_EQ(0, ::stat(dir_.File("own.log").c_str(), &before));
  for (const char* name : {"own_link.log", "dangling.log", "own.log", "new.log"}) {
    EXPECT_EQ("", WriteLog(name)) << name;
    EXPECT_EQ("new line\n", ReadFile(dir_.File(name))) << name;
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.File("own_link.log")));
  EXPECT_EQ("new line\n", ReadFile(dir_.File("target")));
  EXPECT_FALSE(std::filesystem::is_symlink(dir_.File("dangling.log")));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("nowhere")));
  if (planted) {
    EXPECT_EQ("", WriteLog("planted.log"));
    EXPECT_FALSE(std::filesystem::is_symlink(dir_.File("planted.log")));
    EXPECT_EQ("victim's bytes", ReadFile(dir_.File("victim")));
  }
  // Emptied in place, as a process that rotates logs by truncating expects.
  struct stat after;
  ASSERT_EQ(0, ::stat(dir_.File("own.log").c_str(), &after));
  EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(OutputFileTest, PipesDevicesSocketsAndFoldersAreRefusedWithoutWaiting) {
  ASSERT_EQ(0, ::mkfifo(dir_.File("fifo.log").c_str(), 0600));
  std::filesystem::create_symlink("/dev/null", dir_.File("null.log"));
  std::filesystem::create_directory(dir_.File("folder.log"));
  int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string socket_path = dir_.File("socket.log");
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  std::copy(socket_path.begin(), socket_path.end(), address.sun_path);
  ASSERT_EQ(0, ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address));
  const std::pair<const char*, std::string> refused[] = {
      {"fifo.log", "it is a named pipe (FIFO), not a regular file."},
      {"socket.log", "it is a socket, not a regular file."},
      {"folder.log", "Is a directory."},
  };
  for (const auto& [name, reason] : refused)
    EXPECT_EQ("Cannot create \"" + dir_.File(name) + "\": " + reason, WriteLog(name)) << name;
  ::close(sock);
  // Nor at the end of a link (as /dev/stdout to a pipe).
  EXPECT_EQ("Cannot create \"" + dir_.File("null.log") +
                "\": it is a link to a character device, not to a regular file.",
            WriteLog("null.log"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.File("null.log")));
  EXPECT_EQ("a character device", NonFileAt("/dev/null"));
  EXPECT_EQ("a named pipe (FIFO)", NonFileAt(dir_.File("fifo.log")));
  EXPECT_EQ("a character device", NonFileAt(dir_.File("null.log")));
  EXPECT_EQ("", NonFileAt(dir_.File("missing")));
}

TEST_F(OutputFileTest, OneLockPerNameNamesItsHolderAndGoesWithIt) {
  OutputLock first;
  OutputLock second;
  long holder = 0;
  ASSERT_TRUE(first.Acquire(dir_.File("report.docx"), holder));
  EXPECT_TRUE(OutputLockHeld(OutputFolder::Open(dir_.File("report.docx")), "report.docx"));
  EXPECT_FALSE(second.Acquire(dir_.File("report.docx"), holder));
  EXPECT_EQ(::getpid(), holder);
  OutputLock other_name;
  EXPECT_TRUE(other_name.Acquire(dir_.File("other.docx"), holder));
  first.Release();
  EXPECT_FALSE(std::filesystem::exists(LockFileName(dir_.path().string(), "report.docx")));
  EXPECT_FALSE(OutputLockHeld(OutputFolder::Open(dir_.File("report.docx")), "report.docx"));
  EXPECT_TRUE(second.Acquire(dir_.File("report.docx"), holder));
  // A folder where no lock can be made keeps nobody out; the run fails there
  // anyway.
  OutputLock nowhere;
  EXPECT_TRUE(nowhere.Acquire(dir_.File("missing/report.docx"), holder));
  EXPECT_FALSE(nowhere.Held());
}

}  // namespace
}  // namespace vantrelle
