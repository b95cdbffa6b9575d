// Named file mappings, mutexes and events, within one process and between
// processes (fork; the child uses only the stand-ins and leaves with _exit).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "Platform/Event.h"
#include "Platform/Handle.h"
#include "Platform/LastError.h"
#include "Platform/NamedObjects.h"
#include "Platform/Wait.h"

namespace {

class NamedObjectsTest : public testing::Test {
 protected:
  // A name of this process and test, removed afterwards.
  std::string Name(const char* what) {
    std::string name = "bc-named-test-" + std::to_string(getpid()) + "-" + what;
    RemoveNamedObject(name.c_str());  // left by a process that had this id
    m_names.push_back(name);
    return name;
  }
  void TearDown() override {
    for (const std::string& name : m_names) RemoveNamedObject(name.c_str());
  }

  // Runs `body` in a forked child; returns its exit code, or -1 when it did
  // not finish within ten seconds (it is killed then).
  template <class Body>
  static pid_t StartChild(Body body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
  }
  static int FinishChild(pid_t pid) {
    int status = 0;
    for (int waited = 0; waited < 10000; waited += 2) {
      if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      usleep(2000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  template <class Body>
  static int InChild(Body body) {
    return FinishChild(StartChild(body));
  }

  std::vector<std::string> m_names;
};

TEST_F(NamedObjectsTest, MappingIsCreatedOnceAndSharedByName) {
  const std::string name = Name("map");
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  HANDLE created = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 10000, name.c_str());
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  // A second create opens the same mapping with its first size.
  HANDLE again = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 20000, name.c_str());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(MapViewOfFile(again, FILE_MAP_WRITE, 0, 0, 20000), nullptr);

  auto* first = static_cast<char*>(MapViewOfFile(created, FILE_MAP_WRITE | FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first[9999], 0);  // zero filled
  CloseHandle(created);       // the view outlives the handle
  std::strcpy(first + 9990, "shared");

  const int child = InChild([&name] {
    HANDLE opened = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    if (opened == nullptr) return 1;
    auto* view = static_cast<const char*>(MapViewOfFile(opened, FILE_MAP_READ, 0, 0, 0));
    if (view == nullptr) return 2;
    // Read-only access cannot be widened.
    if (MapViewOfFile(opened, FILE_MAP_WRITE, 0, 0, 0) != nullptr) return 3;
    return std::strcmp(view + 9990, "shared") == 0 ? 0 : 4;
  });
  EXPECT_EQ(child, 0);

  EXPECT_TRUE(UnmapViewOfFile(first));
  EXPECT_FALSE(UnmapViewOfFile(first));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(again);
}

TEST_F(NamedObjectsTest, BadNamesAndFilesAreRefused) {
  EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 16, "a/b"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CreateFileMappingA(nullptr, nullptr, PAGE_READWRITE, 0, 16, Name("file").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  // A name in use by an object of another kind.
  const std::string name = Name("kind");
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(event);
}

TEST_F(NamedObjectsTest, MutexIsReentrantAndOwnedByOneThread) {
  const std::string name = Name("mutex");
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // again, same thread

  HANDLE other = CreateMutexA(nullptr, TRUE, name.c_str());  // existing: not taken
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  DWORD otherWait = 0;
  BOOL otherRelease = TRUE;
  std::thread([&] {
    otherWait = WaitForSingleObject(other, 20);
    otherRelease = ReleaseMutex(other);
  }).join();
  EXPECT_EQ(otherWait, WAIT_TIMEOUT);
  EXPECT_FALSE(otherRelease);

  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  std::thread([&] {
    otherWait = WaitForSingleObject(other, 1000);
    ReleaseMutex(other);
  }).join();
  EXPECT_EQ(otherWait, WAIT_OBJECT_0);
  CloseHandle(other);
  CloseHandle(mutex);
}

TEST_F(NamedObjectsTest, MutexOfADeadOwnerIsAbandonedToTheNextWaiter) {
  const std::string name = Name("abandoned");
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  ASSERT_NE(mutex, nullptr);
  const int child = InChild([&name] {
    HANDLE own = CreateMutexA(nullptr, FALSE, name.c_str());
    return own != nullptr && WaitForSingleObject(own, 1000) == WAIT_OBJECT_0 ? 0 : 1;  // dies holding it
  });
  ASSERT_EQ(child, 0);
  EXPECT_EQ(WaitForSingleObject(mutex, 1000), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WaitForSingleObject(mutex, 1000), WAIT_OBJECT_0);  // consistent again
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
}

TEST_F(NamedObjectsTest, AutoResetEventWakesAnotherProcessOnce) {
  const std::string name = Name("event");
  const std::string reply = Name("reply");
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
  HANDLE answered = CreateEventA(nullptr, TRUE, FALSE, reply.c_str());
  ASSERT_NE(event, nullptr);
  ASSERT_NE(answered, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

  const pid_t pid = StartChild([&name, &reply] {
        HANDLE own = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
        HANDLE back = CreateEventA(nullptr, TRUE, FALSE, reply.c_str());
        if (own == nullptr || back == nullptr) return 1;
        if (WaitForSingleObject(own, 5000) != WAIT_OBJECT_0) return 2;
        if (WaitForSingleObject(own, 0) != WAIT_TIMEOUT) return 3;  // auto reset
        SetEvent(back);
        return 0;
      });
  SetEvent(event);  // most likely while the child waits; else it finds it set
  EXPECT_EQ(FinishChild(pid), 0);
  // Manual reset: stays set for every wait until reset.
  EXPECT_EQ(WaitForSingleObject(answered, 1000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(answered, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(answered));
  EXPECT_EQ(WaitForSingleObject(answered, 0), WAIT_TIMEOUT);
  CloseHandle(answered);
  CloseHandle(event);
}

TEST_F(NamedObjectsTest, EventStaysUsableAfterAWaiterWasKilledInItsWait) {
  // A waiter killed inside its wait leaves nothing that a later set or wait
  // depends on: setters never block, waiters still wake up.
  const std::string name = Name("dead-waiter");
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
  ASSERT_NE(event, nullptr);
  const pid_t waiter = StartChild([&name] {
    HANDLE own = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    return own != nullptr && WaitForSingleObject(own, INFINITE) == WAIT_OBJECT_0 ? 0 : 1;
  });
  usleep(200000);  // most likely waiting by now; else killed before, which must work too
  kill(waiter, SIGKILL);
  EXPECT_EQ(FinishChild(waiter), -1);
  const int user = InChild([&name] {
    HANDLE own = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    if (own == nullptr) return 1;
    for (int round = 0; round < 3; ++round) {
      SetEvent(own);
      if (WaitForSingleObject(own, 1000) != WAIT_OBJECT_0) return 2;
      DWORD woken = WAIT_FAILED;
      std::thread second([own, &woken] { woken = WaitForSingleObject(own, 5000); });
      usleep(50000);
      SetEvent(own);
      second.join();
      if (woken != WAIT_OBJECT_0) return 3;
    }
    return 0;
  });
  EXPECT_EQ(user, 0);
  CloseHandle(event);
}

TEST_F(NamedObjectsTest, OpenFindsOnlyExistingMutexesAndEvents) {
  const std::string name = Name("open");
  EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_NE(access(("/dev/shm/" + name).c_str(), F_OK), 0);  // nothing created

  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()), nullptr);  // another kind
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  HANDLE opened = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
  ASSERT_NE(opened, nullptr);
  EXPECT_TRUE(SetEvent(opened));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  CloseHandle(opened);
  CloseHandle(event);
}

TEST_F(NamedObjectsTest, MappingClaimIsHeldByOneHandleAndEndsWithItsProcess) {
  const std::string name = Name("claim");
  HANDLE mine = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
  ASSERT_NE(mine, nullptr);
  auto* flag = static_cast<volatile char*>(MapViewOfFile(mine, FILE_MAP_WRITE | FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(flag, nullptr);
  EXPECT_FALSE(IsFileMappingClaimed(mine));

  const pid_t holder = StartChild([&name, flag] {
    HANDLE own = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str());
    if (own == nullptr || !ClaimFileMapping(own) || !ClaimFileMapping(own)) return 1;  // again: still held
    *flag = 1;
    for (;;) pause();  // killed
  });
  for (int i = 0; i < 2500 && *flag == 0; ++i) usleep(2000);
  ASSERT_EQ(*flag, 1);
  EXPECT_TRUE(IsFileMappingClaimed(mine));
  EXPECT_FALSE(ClaimFileMapping(mine));
  EXPECT_EQ(GetLastError(), ERROR_BUSY);

  kill(holder, SIGKILL);
  EXPECT_EQ(FinishChild(holder), -1);
  EXPECT_FALSE(IsFileMappingClaimed(mine));
  EXPECT_TRUE(ClaimFileMapping(mine));
  // Another handle of this process sees the claim; closing and unmapping the
  // claiming one ends it.
  HANDLE other = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str());
  ASSERT_NE(other, nullptr);
  EXPECT_TRUE(IsFileMappingClaimed(other));
  EXPECT_TRUE(UnmapViewOfFile(const_cast<char*>(flag)));
  CloseHandle(mine);
  EXPECT_FALSE(IsFileMappingClaimed(other));
  CloseHandle(other);
}

TEST_F(NamedObjectsTest, OpenerGivesUpOnASegmentItsCreatorNeverFinished) {
  // A creator that died between creating and initialising leaves an
  // unpublished segment: openers must not use it, nor wait forever.
  const std::string name = Name("unfinished");
  const int fd = shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 4096), 0);
  close(fd);
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
}

}  // namespace
