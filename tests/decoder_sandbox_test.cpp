// The decoder's sandbox on its own: once in it, a process can still use its
// pipe and allocate memory, and anything else it tries kills it.
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "picture_decoder.h"

namespace {

struct Attempt {
  const char *name;
  std::function<void(int out)> run; // writes one byte to `out` if let through
  int expectedSignal;               // 0: expected to exit normally
};

void PrintTo(const Attempt &a, std::ostream *os) {
  *os << a.name;
}

class DecoderSandboxTest : public ::testing::TestWithParam<Attempt> {};

TEST_P(DecoderSandboxTest, OnlyWhatDecodingNeeds) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (!EnterDecoderSandbox(&fds[1], 1))
      _exit(3);
    GetParam().run(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  char byte = 0;
  bool through = read(fds[0], &byte, 1) == 1;
  close(fds[0]);
  if (GetParam().expectedSignal == 0) {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "status " << status;
    EXPECT_TRUE(through);
  } else {
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(GetParam().expectedSignal, WTERMSIG(status));
    EXPECT_FALSE(through);
  }
}

void passed(int out) {
  char b = 1;
  if (write(out, &b, 1) != 1)
    _exit(4);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, DecoderSandboxTest,
    ::testing::Values(
        Attempt{"WriteToItsPipeAndAllocate",
                [](int out) {
                  void *big = std::malloc(size_t{200} << 20);
                  if (big == nullptr)
                    _exit(5);
                  static_cast<char *>(big)[12345] = 1;
                  std::free(big);
                  passed(out);
                },
                0},
        // Some decoders decode in threads (libheif does).
        Attempt{"StartAThread",
                [](int out) { std::thread([out] { passed(out); }).join(); }, 0},
        Attempt{"OpenAFile",
                [](int out) {
                  if (open("/etc/passwd", O_RDONLY) >= 0)
                    passed(out);
                },
                SIGSYS},
        Attempt{"CreateASocket",
                [](int out) {
                  if (socket(AF_UNIX, SOCK_STREAM, 0) >= 0)
                    passed(out);
                },
                SIGSYS},
        Attempt{"Exec",
                [](int out) {
                  execl("/bin/true", "true", static_cast<char *>(nullptr));
                  passed(out);
                },
                SIGSYS},
        Attempt{"Fork",
                [](int out) {
                  if (fork() >= 0)
                    passed(out);
                },
                SIGSYS}),
    [](const ::testing::TestParamInfo<Attempt> &info) {
      return info.param.name;
    });

} // namespace
