// The picture loader's parts on their own: the decoder's sandbox (once in
// it, a process can still use its pipe and allocate memory, and anything
// else it tries kills it), each picture's CPU budget, and the viewer's side
// against a decoder that lies.
#include <GL/glut.h>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "picture/decoder/decoder.h"
#include "picture/decoder/sandbox.h"
#include "picture/kinds.h"
#include "picture/protocol.h"
#include "picture/viewer/budget.h"
#include "picture/viewer/guard.h"
#include "test_pictures.h"
#include "viewer_process.h"

// What the stand-in decoder below tells the viewer about one picture.
enum Lie {
  kNone,
  kOtherPicture,
  kPastTheSlot,
  kReaderNotAsked,
  kReaderPastTheTable,
  kReaderNegative,
  kNoChannels,
  kFiveChannels,
  kAnswerCutShort,
  kSilence
};
static Lie lie = kNone;
static int liedAbout = 0;

// Stands in for the real decoder (the test defines DecoderMain, so the
// library's is not linked), in the real sandbox: a 2 x 2 picture for every
// command, grey by the number of commands it has served (16 for the first),
// with one lie about picture `liedAbout`.
void DecoderMain(const DecoderSetup &setup) {
  const DecoderFds &fds = setup.fds;
  if (!SilenceOutput(fds) || !EnterDecoderSandbox(fds))
    _exit(1);
  DecodeCommand c;
  for (int served = 1; ReadMessage(fds.commands, c) && c.index >= 0; served++) {
    std::memset(setup.slots + size_t(c.slot) * kMaxPictureBytes, 16 * served,
                12);
    DecodeResult r = {c.index, kSoil, 2, 2, 3};
    bool liesNow = c.index == liedAbout;
    if (liesNow && lie == kOtherPicture)
      r.index = (c.index + 1) % fds.pictureCount;
    if (liesNow && lie == kPastTheSlot) { // 1 GiB, a size a texture can have
      r.width = r.height = 1 << 14;
      r.channels = 4;
    }
    if (liesNow && lie == kReaderNotAsked)
      r.reader = kPixbuf;
    if (liesNow && (lie == kReaderPastTheTable || lie == kReaderNegative))
      r.reader = lie == kReaderNegative ? -2 : kReaderCount;
    if (liesNow && (lie == kNoChannels || lie == kFiveChannels))
      r.channels = lie == kNoChannels ? 0 : 5;
    if (liesNow && lie == kAnswerCutShort) { // all but its channels
      if (write(fds.results, &r, offsetof(DecodeResult, channels)) < 0)
        break;
      continue;
    }
    if (liesNow && lie == kSilence)
      continue;
    if (!WriteMessage(fds.results, r))
      break;
  }
  _exit(0);
}

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
    DecoderFds own = {-1, fds[1], nullptr, 0};
    if (!SilenceOutput(own) || !EnterDecoderSandbox(own))
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
                SIGSYS}),
    [](const ::testing::TestParamInfo<Attempt> &info) {
      return info.param.name;
    });

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
  } else {
    EXPECT_GE(us, GetParam().minSeconds * 1e6);
    EXPECT_LE(us, GetParam().maxSeconds * 1e6);
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
    glutDestroyWindow(window);
    remove_tree(dir);
  }
  int window = 0;
  std::string dir;
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
  lie = GetParam();
  liedAbout = 2;
  unsigned int textures[6];
  LoadGuardedTextures(files, textures, 6);
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
  lie = kNone;
  std::string paths[6];
  const char *files[6];
  for (int i = 0; i < 6; i++) {
    paths[i] = dir + "/face" + std::to_string(i);
    ASSERT_EQ(0, symlink((dir + "/b1.jpg").c_str(), paths[i].c_str()));
    files[i] = paths[i].c_str();
  }
  unsigned int textures[6];
  LoadGuardedTextures(files, textures, 6);
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
