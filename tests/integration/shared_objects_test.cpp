// Objects shared between the processes of a verification stand.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/named_event.h"
#include "platform/process.h"
#include "platform/shared_objects.h"
#ifndef _WIN32
#include "platform/posix/object_names.h"
#endif

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace qs::platform {
namespace {

// A name of its own for each test, removed again at the end.
class Named {
 public:
  explicit Named(const std::string& base)
      : name_(base + "." + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())) {}
  ~Named() { removeNamedObject(name_); }
  operator const std::string&() const { return name_; }

 private:
  std::string name_;
};



TEST(Events, ManualAutoAndPulse) {
  auto manual = createEvent(true, false);
  EXPECT_FALSE(manual->wait(0));
  manual->set();
  EXPECT_TRUE(manual->wait(0));
  EXPECT_TRUE(manual->wait(0));  // stays set
  manual->reset();
  EXPECT_FALSE(manual->wait(10));

  Named autoName("TEST_AUTO");
  auto automatic = openNamedEvent(autoName, false, false);
  ASSERT_NE(automatic, nullptr);
  automatic->set();
  EXPECT_TRUE(automatic->wait(0));
  EXPECT_FALSE(automatic->wait(0));  // released one waiter and reset itself
  automatic->pulse();                // nobody waits: nothing remains
  EXPECT_FALSE(automatic->wait(10));

  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    automatic->pulse();
  });
  EXPECT_TRUE(automatic->wait(5000));  // a pulse wakes a waiter
  waker.join();
}

TEST(SharedObjects, MutexIsExclusiveWithinTime) {
  Named mutexName("TEST_MUTEX");
  auto a = openNamedMutex(mutexName);
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(a->lock(100));
  a->unlock();
}

// What the master asks of a task's published process id.
TEST(Processes, ARunningProcessAndOneThatEnded) {
  EXPECT_TRUE(pidRunning(ownProcessId()));
  EXPECT_FALSE(pidRunning(0));
  uint32_t ended = 0;
#ifdef _WIN32
  std::string command = "cmd.exe /c exit 0";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, 20000);
  ended = pi.dwProcessId;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
#else
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  ended = static_cast<uint32_t>(child);
#endif
  EXPECT_FALSE(pidRunning(ended));
}

#ifndef _WIN32
// (A block of the test's own: a stand working on this computer is never
// touched.)
TEST(SharedObjects, BlockIsSharedAndPrivateToItsUser) {
  Named name("TEST_BLOCK");
  auto block = openSharedBlock(name, 256);
  ASSERT_NE(block, nullptr);
  struct stat st{};
  ASSERT_EQ(stat(sharedBlockPath(name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  pid_t child = fork();
  if (child == 0) {
    auto mine = openSharedBlock(name, 256);
    if (!mine) _exit(2);
    mine->data()[200] = 0x5A;
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(block->data()[200], 0x5A);
  block.reset();
  std::remove(sharedBlockPath(name).c_str());
}

TEST(SharedObjects, AMutexWhoseHolderDiedIsTakenOver) {
  Named name("TEST_DEAD");
  auto mutex = openNamedMutex(name);
  ASSERT_NE(mutex, nullptr);
  pid_t child = fork();
  if (child == 0) {
    auto mine = openNamedMutex(name);
    if (!mine || !mine->lock(1000)) _exit(2);
    _exit(0);  // dies holding it
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(mutex->lock(2000));
  mutex->unlock();
  EXPECT_TRUE(mutex->lock(100));  // and usable afterwards
  mutex->unlock();
}

// The objects of a stand are this user's alone, whatever the umask says.
TEST(SharedObjects, EveryObjectOfAStandIsPrivateToItsUser) {
  mode_t saved = umask(0);
  Named mutexName("TEST_MODE_MUTEX"), semName("TEST_MODE_SEM"), eventName("TEST_MODE_EVENT"), blockName("TEST_MODE_BLOCK");
  auto mutex = openNamedMutex(mutexName);
  auto sem = openNamedSemaphore(semName, 1, 1);
  auto event = openNamedEvent(eventName, true, false);
  auto block = openSharedBlock(blockName, 256);
  umask(saved);
  ASSERT_TRUE(mutex && sem && event && block);
  const std::string prefix = "/dev/shm/qs." + standOwner() + ".";
  for (const std::string& path : {prefix + static_cast<const std::string&>(mutexName),
                                  "/dev/shm/sem.qs." + standOwner() + "." + static_cast<const std::string&>(semName),
                                  prefix + static_cast<const std::string&>(eventName), sharedBlockPath(blockName)}) {
    struct stat st{};
    ASSERT_EQ(stat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
  }
  std::remove(sharedBlockPath(blockName).c_str());
}

TEST(SharedObjects, EventsReachAnotherProcess) {
  Named name("TEST_EVENT");
  auto event = openNamedEvent(name, true, false);
  ASSERT_NE(event, nullptr);
  pid_t child = fork();
  if (child == 0) {
    auto mine = openNamedEvent(name, true, false);
    _exit(mine && mine->wait(5000) ? 0 : 3);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  event->set();
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
}  // namespace qs::platform
