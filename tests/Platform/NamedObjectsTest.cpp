// Named file mappings, mutexes and events, within one process and, for a
// mapping, between processes (fork; the child uses only the stand-ins and
// leaves with _exit). Events that wake another process, and what a killed
// owner leaves (an abandoned mutex, a dead waiter, a claim that ends with its
// process), are checked through the trace channel's multi-process tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "Platform/NamedObjects.h"
#include "Platform/Win32.h"

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

  // A forked child reads it; an alarm ends the child after ten seconds.
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(10);
    HANDLE opened = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    auto* view = opened != nullptr ? static_cast<const char*>(MapViewOfFile(opened, FILE_MAP_READ, 0, 0, 0)) : nullptr;
    if (view == nullptr) _exit(1);
    // Read-only access cannot be widened.
    if (MapViewOfFile(opened, FILE_MAP_WRITE, 0, 0, 0) != nullptr) _exit(2);
    _exit(std::strcmp(view + 9990, "shared") == 0 ? 0 : 3);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_EQ(status, 0) << "the child's exit code is " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);

  EXPECT_TRUE(UnmapViewOfFile(first));
  EXPECT_FALSE(UnmapViewOfFile(first));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(again);
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

TEST_F(NamedObjectsTest, BadNamesAndUnfinishedObjectsAreRefusedAndOpenFindsOnlyObjectsOfItsKind) {
  EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 16, "a/b"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CreateFileMappingA(nullptr, nullptr, PAGE_READWRITE, 0, 16, Name("file").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);

  const std::string name = Name("open");
  EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_NE(access(("/dev/shm/" + name).c_str(), F_OK), 0);  // nothing created

  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
  ASSERT_NE(event, nullptr);
  // A name in use by an object of another kind.
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  HANDLE opened = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
  ASSERT_NE(opened, nullptr);
  EXPECT_TRUE(SetEvent(opened));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  CloseHandle(opened);
  CloseHandle(event);

  // A creator that died between creating and initialising leaves an
  // unpublished segment: openers must not use it, nor wait forever.
  const std::string unfinished = Name("unfinished");
  const int fd = shm_open(("/" + unfinished).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 4096), 0);
  close(fd);
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, unfinished.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
}

}  // namespace
