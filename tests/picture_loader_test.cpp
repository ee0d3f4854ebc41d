// The picture loader's parts on their own: the decoder's sandbox (once in
// it, a process can still use its pipe and allocate memory, and anything
// else it tries kills it), each picture's CPU budget, and the viewer's side
// against a decoder that lies (lying_decoder.cpp).
#include <GL/glut.h>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <seccomp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "lying_decoder.h"
#include "picture/decoder/process/decoder.h"
#include "picture/decoder/process/sandbox.h"
#include "picture/decoder/process/sandbox_rules.h"
#include "picture/decoding_limits.h"
#include "picture/kinds.h"
#include "picture/protocol.h"
#include "picture/viewer/decoders/budget.h"
#include "picture/viewer/decoders/decoder_processes.h"
#include "picture/viewer/load_at_start/load_at_start.h"
#include "test_pictures.h"
#include "viewer_process.h"

namespace {

struct Attempt {
  const char *name;
  std::function<void(int out)> run; // writes one byte to `out` if let through
  int expectedSignal;               // 0: expected to exit normally
  bool drawings = false;            // in a decoder readied for drawings
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
    DecoderFds own = {-1, fds[1], nullptr, 0};
    if (!SilenceOutput(own) || !EnterDecoderSandbox(own, GetParam().drawings))
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
        // A thread giving memory back to its own arena: the C library
        // reads /proc/sys/vm/overcommit_memory the first time (done before
        // the filter).
        Attempt{"GiveBackAThreadsMemory",
                [](int out) {
                  std::thread([out] {
                    void *volatile blocks[8];
                    for (void *volatile &b : blocks)
                      b = std::malloc(100 << 10);
                    for (void *b : blocks)
                      std::free(b);
                    passed(out);
                  }).join();
                },
                0},
        // Standard input is open (on /dev/null), but not for writing to.
        Attempt{"WriteToADescriptorNotItsOwn",
                [](int out) {
                  if (write(STDIN_FILENO, "x", 1) == 1)
                    passed(out);
                },
                SIGSYS},
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
                SIGSYS},
        // What fontconfig and cairo still do while a drawing's text is laid
        // out, by the calls this architecture's C library makes for them:
        // asking after a font file goes through, opening and looking at
        // files is refused without killing.
        Attempt{"AskAfterAFontFileInADecoderForDrawings",
                [](int out) {
                  if (access("/dev/null", R_OK) == 0)
                    passed(out);
                },
                0, true},
        Attempt{"OpenOrLookAtAFileInADecoderForDrawings",
                [](int out) {
                  struct stat st;
                  if (open("/etc/passwd", O_RDONLY) < 0 && errno == EACCES &&
                      stat("/etc/passwd", &st) != 0 && errno == EACCES)
                    passed(out);
                },
                0, true}),
    [](const ::testing::TestParamInfo<Attempt> &info) {
      return info.param.name;
    });

// Every row of the filter's table names its call as each architecture a
// decoder runs on has it: a row for a call one of them lacks (arm64 has no
// access, open or stat) would never match there, and the call would kill.
TEST(DecoderSandboxRules, EachCallNamedForEveryArchitecture) {
  const struct {
    uint32_t arch;
    const char *name;
  } architectures[] = {{SCMP_ARCH_X86_64, "x86-64"},
                       {SCMP_ARCH_AARCH64, "arm64"}};
  for (size_t i = 0; i < kRuleCount; i++) {
    const Rule &r = kRules[i];
    for (const char *call : r.calls) {
      bool named = false;
      for (const auto &a : architectures)
        named = named || seccomp_syscall_resolve_name_arch(a.arch, call) >= 0;
      EXPECT_TRUE(call == nullptr || named)
          << "row " << i << " (" << r.why << "): no call named " << call;
    }
    for (const auto &a : architectures) {
      bool has = false;
      for (const char *call : r.calls)
        has = has || (call != nullptr &&
                      seccomp_syscall_resolve_name_arch(a.arch, call) >= 0);
      EXPECT_TRUE(has) << "row " << i << " (" << r.why << ", "
                       << (r.calls[0] ? r.calls[0] : "?")
                       << "): no call of its on " << a.name;
    }
  }
}

// The budget rule against the README's own figures, on real files.
struct BudgetCase {
  const char *name;
  std::function<void(const std::string &path)> make;
  double minSeconds, maxSeconds; // both -1: refused without decoding
};

void PrintTo(const BudgetCase &b, std::ostream *os) {
  *os << b.name;
}

class BudgetTest : public ::testing::TestWithParam<BudgetCase> {};

TEST_P(BudgetTest, FitsWhatThePictureCanHold) {
  std::string dir = make_temp_dir(), path = dir + "/picture";
  GetParam().make(path);
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  int64_t bytes = lseek(fd, 0, SEEK_END);
  int64_t us = PictureBudgetUs(
      fd, bytes, PictureKindOf(ByteSource{fd, nullptr, uint64_t(bytes)}),
      16384);
  close(fd);
  remove_tree(dir);
  if (GetParam().minSeconds < 0) {
    EXPECT_EQ(-1, us);
  } else { // the figures are a desktop's (a slow machine's build scales them)
    EXPECT_GE(us, GetParam().minSeconds * 1e6 * kCpuSlowness);
    EXPECT_LE(us, GetParam().maxSeconds * 1e6 * kCpuSlowness);
  }
}

// A PSD header declaring `width` x `height`, padded to `bytes`.
std::string psdDeclaring(uint32_t width, uint32_t height, size_t bytes) {
  std::string psd = "8BPS";
  psd += std::string("\x00\x01", 2) + std::string(6, '\0') +
         std::string("\x00\x03", 2);
  for (uint32_t v : {height, width})
    for (int shift : {24, 16, 8, 0})
      psd += char(v >> shift);
  psd += std::string("\x00\x08\x00\x03", 4);
  psd.resize(bytes, '\x01');
  return psd;
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, BudgetTest,
    ::testing::Values(
        // "a 4-byte JPEG gets 0.2 s"
        BudgetCase{
            "JpegOfFourBytes",
            [](const std::string &p) { write_bytes(p, "\xff\xd8\xff\xe0"); },
            0.2, 0.25},
        // "A 24-megapixel photo gets about 10 s"
        BudgetCase{"Photo24Megapixels",
                   [](const std::string &p) {
                     run_command("convert -size 6000x4000 xc:gray jpg:" + p);
                   },
                   9, 10.5},
        // A few hundred bytes can't hold millions of pixels.
        BudgetCase{"PsdOf200BytesDeclaring4000000x30",
                   [](const std::string &p) {
                     write_bytes(p, psdDeclaring(4000000, 30, 200));
                   },
                   0.2, 0.25},
        // A drawing's cost is in what it draws, not in its bytes: every one
        // gets the drawings' budget, a few bytes as well.
        BudgetCase{"SvgDrawingOfAFewBytes",
                   [](const std::string &p) {
                     write_bytes(p, "<svg xmlns='http://www.w3.org/2000/svg' "
                                    "width='64' height='64'><text>A</text>"
                                    "</svg>");
                   },
                   2, 2},
        // A PNG may be HDR: its light mapped on every pixel shown, at
        // most the screen's (here 16384 a side): 0.2 s + 4 MP * (30 + 150)
        // ns * 8.
        BudgetCase{"Png2000x2000",
                   [](const std::string &p) {
                     run_command("convert -size 2000x2000 xc:gray png:" + p);
                   },
                   5.9, 6.0},
        // "more than 256 MiB of pixels is not decoded at all"
        BudgetCase{"PsdDeclaring20000x20000",
                   [](const std::string &p) {
                     write_bytes(p, psdDeclaring(20000, 20000, 200));
                   },
                   -1, -1}),
    [](const ::testing::TestParamInfo<BudgetCase> &info) {
      return info.param.name;
    });

class StandInDecoderTest : public ::testing::Test {
protected:
  void SetUp() override {
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE);
    window = glutCreateWindow("Vorlix loader test");
    dir = make_temp_dir();
    write_face_pictures(dir);
  }
  void TearDown() override {
    UseDecoderProgram(nullptr);
    glutDestroyWindow(window);
    remove_tree(dir);
  }
  // The viewer's decoders from now on: the stand-in, telling `lie` about
  // picture `liedAbout`.
  void decodersLie(Lie lie, int liedAbout) {
    program = dir + "/lying";
    write_bytes(program, "#!/bin/sh\nexec " LYING_DECODER " " +
                             std::to_string(lie) + " " +
                             std::to_string(liedAbout) + " \"$@\"\n");
    ASSERT_EQ(0, chmod(program.c_str(), 0755));
    UseDecoderProgram(program.c_str());
  }
  int window = 0;
  std::string dir, program;
};

// The viewer's side believes nothing a decoder says that does not add up:
// the picture lied about stays white, the others show.
class LyingDecoderTest : public StandInDecoderTest,
                         public ::testing::WithParamInterface<Lie> {};

TEST_P(LyingDecoderTest, PictureLiedAboutStaysWhite) {
  std::string paths[6];
  const char *files[6];
  for (int i = 0; i < 6; i++) {
    paths[i] = dir + "/b" + std::to_string(i + 1) + ".jpg";
    files[i] = paths[i].c_str();
  }
  Lie lie = GetParam();
  int liedAbout = 2;
  decodersLie(lie, liedAbout);
  unsigned int textures[6];
  LoadTexturesAtStart(files, textures, 6);
  for (int i = 0; i < 6; i++)
    if (lie != kNone && i == liedAbout)
      EXPECT_EQ(0u, textures[i]) << "picture " << i;
    else
      EXPECT_NE(0u, textures[i]) << "picture " << i;
  glDeleteTextures(6, textures);
}

// One file behind all six faces' names, as the launcher links one picture
// given alone: six textures, all from its first decoding.
TEST_F(StandInDecoderTest, OneFileOnEveryFaceIsDecodedOnce) {
  decodersLie(kNone, 0);
  std::string paths[6];
  const char *files[6];
  for (int i = 0; i < 6; i++) {
    paths[i] = dir + "/face" + std::to_string(i);
    ASSERT_EQ(0, symlink((dir + "/b1.jpg").c_str(), paths[i].c_str()));
    files[i] = paths[i].c_str();
  }
  unsigned int textures[6];
  LoadTexturesAtStart(files, textures, 6);
  for (int i = 0; i < 6; i++) {
    SCOPED_TRACE("face " + std::to_string(i));
    for (int j = 0; j < i; j++)
      EXPECT_NE(textures[j], textures[i]) << "the same texture as face " << j;
    unsigned char texel[2 * 2 * 3];
    glBindTexture(GL_TEXTURE_2D, textures[i]);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texel);
    EXPECT_EQ(16, texel[0]) << "not from the first decoding";
  }
  glDeleteTextures(6, textures);
}

std::string lieName(const ::testing::TestParamInfo<Lie> &info) {
  const char *names[] = {"Honest",
                         "OtherPicture",
                         "PastTheSlot",
                         "ReaderNotAsked",
                         "ReaderPastTheTable",
                         "ReaderNegative",
                         "NoChannels",
                         "FiveChannels",
                         "AnswerCutShort",
                         "SilencePastTheDeadline"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Answers, LyingDecoderTest,
                         ::testing::Values(kNone, kOtherPicture, kPastTheSlot,
                                           kReaderNotAsked, kReaderPastTheTable,
                                           kReaderNegative, kNoChannels,
                                           kFiveChannels, kAnswerCutShort,
                                           kSilence),
                         lieName);

} // namespace
