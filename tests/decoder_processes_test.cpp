// The decoder processes seen from outside: while they decode large pictures
// each is in its sandbox (its filter on, no new privileges, nothing open but
// its pictures, pipes and /dev/null), and a decoder that can't close what it
// must not hold decodes nothing; none outlives a viewer that is killed.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "picture/kinds.h"
#include "picture/protocol.h"
#include "picture_folder_test.h"
#include "test_animations.h"
#include "viewer_process.h"

namespace {

using SteadyTest = PictureFolderTest;

// Whether a process is gone (or a zombie, no longer running).
bool gone(pid_t pid) {
  std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
  return status.empty() || status.find("State:\tZ") != std::string::npos;
}

// Whether a process is running the decoder program (started, not yet
// exec'd, it is still a copy of the viewer).
bool isDecoder(pid_t pid) {
  char exe[4096];
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  ssize_t n = readlink(link.c_str(), exe, sizeof exe - 1);
  return n > 0 && std::string(exe, size_t(n)) == DECODER_BINARY;
}

// Once a decoder's seccomp filter is on (the last step of its set-up), what
// else its sandbox lacks: no new privileges, and no descriptors but the
// pictures, its pipes and /dev/null. "" when all is as it should be;
// "not yet" before the filter is on or after the decoder is gone.
std::string sandboxProblems(pid_t pid, const std::string &dir) {
  std::string proc = "/proc/" + std::to_string(pid);
  std::string status = read_file(proc + "/status"), problems;
  if (status.find("Seccomp:\t2") == std::string::npos)
    return "not yet";
  if (status.find("NoNewPrivs:\t1") == std::string::npos)
    problems += " new privileges possible;";
  // A descriptor whose link can no longer be read (the decoder ended
  // meanwhile) gives no line.
  std::istringstream lines(
      run_command("cd " + proc + "/fd && for f in *; do t=$(readlink $f) && " +
                  "echo $f $t; done 2>/dev/null"));
  int pipes = 0;
  for (std::string fd, target; lines >> fd >> target;) {
    bool standard = fd == "0" || fd == "1" || fd == "2";
    if (target.rfind("pipe:", 0) == 0 && ++pipes <= 2)
      continue;
    if (target.rfind(dir + "/b", 0) != 0 &&
        !(standard && target == "/dev/null"))
      problems += " holds " + fd + " -> " + target + ";";
  }
  return problems;
}

struct LargePicture {
  std::string name, convertArgs;
  Rgb colour;
  std::string preload = ""; // a library to preload into the viewer
  // Where ImageMagick can't make it: written by the test, in two halves,
  // `colour` on the left and `right` on the right.
  void (*write)(const std::string &, int, int, Rgb, Rgb) = nullptr;
  int width = 0, height = 0;
  Rgb right = {0, 0, 0};
};

void PrintTo(const LargePicture &p, std::ostream *os) {
  *os << p.name;
}

class LargePictureTest : public PictureFolderTest,
                         public ::testing::WithParamInterface<LargePicture> {};

// Real pictures are never refused, however large or well compressed; and
// while one decodes, its decoder is seen in its sandbox from outside.
TEST_P(LargePictureTest, LoadsInASandboxedDecoder) {
  const LargePicture &p = GetParam();
  if (p.write)
    p.write(dir + "/b1.jpg", p.width, p.height, p.colour, p.right);
  else
    ASSERT_EQ("", convert(GetParam().convertArgs + dir + "/b1.jpg"));
  // A library to preload goes into the decoders: the viewer starts them
  // with nothing preloaded.
  std::string programs = make_temp_dir();
  ViewerProcess viewer(dir, true,
                       p.preload.empty()
                           ? VORLIX_BINARY
                           : viewer_with_decoder_preload(programs, p.preload));
  std::set<pid_t> checked;
  while (viewer.alive() && viewer.record().frames == 0) {
    for (pid_t decoder : viewer.children()) {
      if (checked.count(decoder))
        continue;
      std::string problems = sandboxProblems(decoder, dir);
      if (problems != "not yet") {
        checked.insert(decoder);
        EXPECT_EQ("", problems) << "decoder " << decoder;
      }
    }
  }
  EXPECT_FALSE(checked.empty()) << "no sandboxed decoder seen at work";
  ASSERT_TRUE(viewer.wait_frames(1, 60)) << viewer.stop();
  Capture first;
  ASSERT_TRUE(viewer.first_capture(first));
  int tolerance = p.name.rfind("Photo", 0) == 0 ? 60 : 12;
  if (p.write) { // both halves
    EXPECT_EQ("", probe_pixel(first.image, kFrontX - 30, kFrontY, p.colour,
                              tolerance));
    EXPECT_EQ("", probe_pixel(first.image, kFrontX + 30, kFrontY, p.right,
                              tolerance));
  } else {
    EXPECT_EQ("",
              probe_pixel(first.image, kFrontX, kFrontY, p.colour, tolerance));
  }
  EXPECT_EQ("", viewer.stop());
  remove_tree(programs);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, LargePictureTest,
    ::testing::Values(
        // Noise on grey: as slow to decode per pixel as a detailed photo.
        LargePicture{"Photo24Megapixels",
                     "-size 6000x4000 xc:'#808080' -attenuate 0.3 +noise "
                     "Uniform -type TrueColor -interlace none -quality 92 jpg:",
                     {128, 128, 128}},
        // On a kernel without close_range (before 5.9) the decoders close
        // what they must not hold one by one.
        LargePicture{"PhotoOnAKernelWithoutCloseRange",
                     "-size 6000x4000 xc:'#808080' -attenuate 0.3 +noise "
                     "Uniform -type TrueColor -interlace none -quality 92 jpg:",
                     {128, 128, 128},
                     NO_CLOSE_RANGE},
        // libjpeg-turbo as it is on arm64, opening a file at its first
        // decode: a camera's photo, decoded smaller, and a progressive
        // JPEG still show.
        LargePicture{"PhotoWhoseLibraryOpensAFileAtItsFirstDecode",
                     "-size 6000x4000 xc:'#808080' -attenuate 0.3 +noise "
                     "Uniform -type TrueColor -interlace none -quality 92 jpg:",
                     {128, 128, 128},
                     OPENS_AT_FIRST_DECODE},
        LargePicture{"ProgressiveJpegWhoseLibraryOpensAFileAtItsFirstDecode",
                     "-size 1200x900 xc:'#20a040' -interlace JPEG "
                     "-quality 95 jpg:",
                     {32, 160, 64},
                     OPENS_AT_FIRST_DECODE},
        LargePicture{"OneColourJpeg6000x4000",
                     "-size 6000x4000 xc:'#20a040' -interlace none "
                     "-quality 95 jpg:",
                     {32, 160, 64}},
        // A medium-format camera's whole picture, decoded smaller to fit a
        // slot; a PNG larger than the slots, made smaller when handed over;
        // a panorama wider than the GL's largest texture (16384 here).
        // clang-format off
        LargePicture{"Jpeg102Megapixels", "", {220, 40, 40}, "", write_halves_jpeg, 11648, 8736, {40, 60, 220}},
        LargePicture{"PngLargerThanASlot", "", {220, 40, 40}, "", write_halves_png, 12000, 12000, {40, 60, 220}},
        LargePicture{"PanoramaWiderThanTheGl", "", {220, 40, 40}, "", write_halves_jpeg, 20000, 1000, {40, 60, 220}},
        // clang-format on
        LargePicture{"OneColourPng6000x4000",
                     "-size 6000x4000 xc:'#20a040' -define png:bit-depth=8 "
                     "png:",
                     {32, 160, 64}}),
    [](const ::testing::TestParamInfo<LargePicture> &info) {
      return info.param.name;
    });

// A decoder program started here, as the viewer starts one: the ends of
// its pipes the viewer keeps.
struct StartedDecoder {
  pid_t pid = -1;
  int commands = -1, results = -1;
};

// Starts the decoder program with its arguments naming `viewer` as the
// viewer that started it, handed real pipes and slots, the pictures at
// `paths`, and the kinds (1 << kind) to ready readers for.
StartedDecoder startDecoderFor(pid_t viewer,
                               const std::vector<std::string> &paths = {},
                               uint32_t readyKinds = 0) {
  int in[2], out[2];
  int slots = memfd_create("slots", 0);
  StartedDecoder d;
  if (pipe(in) != 0 || pipe(out) != 0 || slots < 0 ||
      ftruncate(slots, off_t(kSlotsBytes)) != 0)
    return d;
  DecoderArguments a;
  a.viewer = viewer;
  a.commands = in[0];
  a.results = out[1];
  a.slots = slots;
  a.readyKinds = readyKinds;
  for (const std::string &p : paths)
    a.pictures[a.pictureCount++] = open(p.c_str(), O_RDONLY);
  std::vector<std::string> args = FormatDecoderArguments(a);
  d.pid = fork();
  if (d.pid == 0)
    exec_program(DECODER_BINARY,
                 std::vector<std::string>(args.begin() + 1, args.end()));
  for (int fd : {in[0], out[1], slots})
    close(fd);
  for (int i = 0; i < a.pictureCount; i++)
    close(a.pictures[i]);
  d.commands = in[1];
  d.results = out[0];
  return d;
}

// Its wait status once it ended by itself, or -1 while it still runs
// after `seconds`.
int endedWithin(pid_t pid, double seconds) {
  int status = 0;
  for (int i = 0; i < seconds * 100; i++) {
    if (waitpid(pid, &status, WNOHANG) == pid)
      return status;
    usleep(10000);
  }
  return -1;
}

// A decoder whose parent is not the viewer named in its arguments (that
// viewer died as it started, and the decoder was adopted) ends at once,
// before it decodes anything; started by the viewer it names, it serves
// until its command pipe closes.
TEST(DecoderStarted, EndsAtOnceWhereItsParentIsNotTheViewerNamed) {
  pid_t other = fork();
  if (other == 0) {
    pause();
    _exit(0);
  }
  StartedDecoder adopted = startDecoderFor(other);
  ASSERT_GT(adopted.pid, 0);
  int status = endedWithin(adopted.pid, 20);
  if (status == -1)
    kill(adopted.pid, SIGKILL), waitpid(adopted.pid, &status, 0);
  close(adopted.commands);
  close(adopted.results);
  kill(other, SIGKILL);
  waitpid(other, nullptr, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1)
      << "named another process as its viewer: status " << status;

  StartedDecoder served = startDecoderFor(getpid());
  ASSERT_GT(served.pid, 0);
  EXPECT_EQ(-1, endedWithin(served.pid, 2)) << "started by the viewer it names";
  close(served.commands);
  close(served.results);
  status = endedWithin(served.pid, 20);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "its command pipe closed: status " << status;
}

// Asks a decoder for picture `index` of `kind`, with the readers of its
// kind; its answer, or a reader of -2 where none came.
DecodeResult decodeIn(const StartedDecoder &d, int index, int kind,
                      const std::string &path) {
  struct stat st;
  stat(path.c_str(), &st);
  DecodeCommand c = {
      index,      0,        kind,      kPictureKinds[kind].readers,
      st.st_size, 5000000,  {4096, 0}, 0,
      0,          kNoPhoto, 0,         0};
  DecodeResult r = {};
  r.reader = -2;
  if (!WriteMessage(d.commands, c) || !ReadMessage(d.results, r))
    r.reader = -2;
  return r;
}

// A decoder not readied for JPEG XL (libjxl not loaded in it: it was
// started for other pictures, or loading it failed) answers a JPEG XL it
// is handed as a picture it can't read, and goes on with the next.
TEST_F(SteadyTest, DecoderNotReadiedForAPictureAnswersThatItCantRead) {
  std::string jxl = dir + "/still.jxl", animated = dir + "/moving.jxl";
  ASSERT_EQ("", convert("-size 16x16 xc:red " + dir + "/still.png"));
  run_command("cjxl -d 0 " + dir + "/still.png " + jxl + " >/dev/null 2>&1");
  ApngTestFrame red = {{255, 0, 0, 255}}, blue = {{0, 0, 255, 255}};
  write_bytes(dir + "/moving.png", apng_bytes(16, 16, {red, blue}));
  run_command("cjxl -d 0 " + dir + "/moving.png " + animated +
              " >/dev/null 2>&1");
  std::string png = dir + "/b1.jpg"; // a face's picture
  for (const std::string &p : {jxl, animated})
    ASSERT_NE("", read_file(p)) << "no " << p;
  StartedDecoder d = startDecoderFor(getpid(), {jxl, animated, png});
  ASSERT_GT(d.pid, 0);
  int jxlKind = KindNamed("a.jxl");
  EXPECT_EQ(kNoReader, decodeIn(d, 0, jxlKind, jxl).reader) << "still";
  EXPECT_EQ(kNoReader, decodeIn(d, 1, jxlKind, animated).reader) << "animated";
  int fd = open(png.c_str(), O_RDONLY);
  int kind = PictureKindOf(ByteSource{fd, nullptr, read_file(png).size()});
  close(fd);
  DecodeResult next = decodeIn(d, 2, kind, png);
  EXPECT_GE(next.reader, 0) << "the picture after them";
  EXPECT_GT(next.width, 0);
  close(d.commands);
  close(d.results);
  int status = endedWithin(d.pid, 20);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "status " << status;
}

// The lines of a process's memory map that name `what`.
std::string mapsNaming(pid_t pid, const std::string &what) {
  std::istringstream maps(read_file("/proc/" + std::to_string(pid) + "/maps"));
  std::string found;
  for (std::string line; std::getline(maps, line);)
    if (line.find(what) != std::string::npos)
      found += line + "\n";
  return found;
}

// Whether `marker` is in a process's stack, heap or anonymous memory
// (mapped read-write, and not the sanitizer's terabytes of shadow).
bool inMemory(pid_t pid, const std::string &marker) {
  std::string proc = "/proc/" + std::to_string(pid);
  std::istringstream maps(read_file(proc + "/maps"));
  FILE *mem = fopen((proc + "/mem").c_str(), "rb");
  bool found = false;
  for (std::string line; !found && mem && std::getline(maps, line);) {
    unsigned long long from = 0, to = 0;
    char perms[5] = {};
    if (sscanf(line.c_str(), "%llx-%llx %4s", &from, &to, perms) != 3 ||
        perms[0] != 'r' || perms[1] != 'w' || to - from > (64u << 20) ||
        (line.find('/') != std::string::npos &&
         line.find("[stack]") == std::string::npos))
      continue;
    std::string bytes(to - from, '\0');
    found = fseeko(mem, off_t(from), SEEK_SET) == 0 &&
            fread(&bytes[0], 1, bytes.size(), mem) == bytes.size() &&
            bytes.find(marker) != std::string::npos;
  }
  if (mem)
    fclose(mem);
  return found;
}

// A decoder is the decoder program, started fresh: not the viewer's code,
// not its libraries (GLUT), not its address layout, and nothing of its
// memory: a marker in the viewer's environment, on its stack, is not in
// the decoder's.
TEST_F(SteadyTest, DecoderIsAProgramOfItsOwn) {
  if (geteuid() != 0)
    GTEST_SKIP() << "reading another process's memory takes root";
  ASSERT_EQ("", convert("-size 6000x4000 xc:'#808080' -attenuate 0.3 +noise "
                        "Uniform -type TrueColor -interlace none jpg:" +
                        dir + "/b1.jpg"));
  std::string marker = "vorlix-marker-" + std::to_string(getpid()) + "-" +
                       std::to_string(ViewerProcess::now_ns());
  setenv("VORLIX_TEST_MARKER", marker.c_str(), 1);
  ViewerProcess viewer(dir, true);
  unsetenv("VORLIX_TEST_MARKER");
  pid_t decoder = -1;
  while (decoder < 0 && viewer.alive() && viewer.record().frames == 0)
    for (pid_t child : viewer.children())
      if (isDecoder(child) && mapsNaming(child, "libjpeg").size() > 0 &&
          kill(child, SIGSTOP) == 0)
        decoder = child;
  ASSERT_GT(decoder, 0) << "no decoder program seen at work";
  EXPECT_EQ("", mapsNaming(decoder, "libglut"));
  EXPECT_EQ("", mapsNaming(viewer.pid(), "libjpeg"));
  std::string libc = mapsNaming(decoder, "/libc.so");
  EXPECT_NE(libc.substr(0, libc.find('-')),
            mapsNaming(viewer.pid(), "/libc.so").substr(0, libc.find('-')))
      << "the viewer's address layout";
  EXPECT_TRUE(inMemory(viewer.pid(), marker)) << "the marker is not found";
  EXPECT_FALSE(inMemory(decoder, marker)) << "the viewer's memory";
  kill(decoder, SIGCONT);
  ASSERT_TRUE(viewer.wait_frames(1, 60)) << viewer.stop();
  EXPECT_EQ("", viewer.stop());
}

TEST_F(SteadyTest, KilledViewerLeavesNoDecoder) {
  for (int i = 1; i <= 6; i++)
    ASSERT_EQ("", convert("-size 6000x4000 xc:'#20a040' -interlace none jpg:" +
                          dir + "/b" + std::to_string(i) + ".jpg"));
  ViewerProcess viewer(dir);
  // Decoders at work: in their sandbox, the last step of their set-up.
  std::vector<pid_t> decoders;
  while (decoders.empty() && viewer.alive() && viewer.record().frames == 0)
    for (pid_t child : viewer.children())
      if (read_file("/proc/" + std::to_string(child) + "/status")
              .find("Seccomp:\t2") != std::string::npos)
        decoders.push_back(child);
  ASSERT_FALSE(decoders.empty()) << "no decoder seen at work";
  // Stopped in the middle of a picture, a decoder can't end by itself.
  for (pid_t decoder : decoders)
    kill(decoder, SIGSTOP);
  kill(viewer.pid(), SIGKILL);
  viewer.stop();
  long long end = ViewerProcess::now_ns() + 500000000LL;
  for (pid_t decoder : decoders) {
    while (!gone(decoder) && ViewerProcess::now_ns() < end)
      usleep(10000);
    EXPECT_TRUE(gone(decoder)) << "decoder " << decoder << " still there";
  }
  for (pid_t decoder : decoders)
    kill(decoder, SIGKILL);
}

// A decoder stopped in the middle of a picture uses no CPU time, so its
// budget's timer never ends it: the viewer gives up on it at its deadline
// (four times its budget and 2 s: 4.4 s for this picture), kills it, and
// goes on without it. The picture alone (its expected decoding under what
// a second decoder is started for) has the one decoder first; it is
// stopped as soon as it is the decoder program, its first picture handed
// to it.
TEST_F(SteadyTest, DecoderStoppedMidPictureIsKilledAtItsDeadline) {
  ASSERT_EQ("", convert("-size 1000x900 xc:'#808080' -attenuate 0.3 +noise "
                        "Uniform -type TrueColor -interlace none jpg:" +
                        dir + "/b1.jpg"));
  ViewerProcess viewer(dir, true);
  pid_t stopped = -1;
  while (stopped < 0 && viewer.alive() && viewer.record().frames == 0)
    for (pid_t child : viewer.children())
      if (isDecoder(child) && kill(child, SIGSTOP) == 0)
        stopped = child;
  ASSERT_GT(stopped, 0) << "no decoder seen at work";
  ASSERT_TRUE(viewer.wait_frames(1, 15)) << viewer.stop();
  EXPECT_LT(viewer.record().first_swap_ns - viewer.started_ns(), 10e9);
  Capture first;
  ASSERT_TRUE(viewer.first_capture(first));
  EXPECT_EQ("", probe_pixel(first.image, kFrontX, kFrontY, kWhite));
  EXPECT_TRUE(gone(stopped)) << "decoder " << stopped << " still there";
  EXPECT_TRUE(viewer.children().empty()) << "a decoder outlives the load";
  kill(stopped, SIGKILL);
  EXPECT_EQ("", viewer.stop());
}

// A descriptor that survives the closing (its close fails, and close_range
// is missing) is found by the decoder's own check, and the decoder reads
// nothing: every face is white.
TEST_F(SteadyTest, DecoderThatCantCloseWhatItMustNotHoldReadsNothing) {
  std::string programs = make_temp_dir();
  ViewerProcess viewer(
      dir, true,
      viewer_with_decoder_preload(programs, std::string(UNCLOSABLE_FD) + ":" +
                                                NO_CLOSE_RANGE));
  ASSERT_TRUE(viewer.wait_frames(1)) << viewer.stop();
  Capture first;
  ASSERT_TRUE(viewer.first_capture(first));
  EXPECT_EQ("", probe_pixel(first.image, kFrontX, kFrontY, kWhite));
  EXPECT_EQ("", probe_pixel(first.image, kTopX, kTopY, kWhite));
  EXPECT_EQ("", viewer.stop());
  remove_tree(programs);
}

} // namespace
