// The launcher's choice of pictures, without a window: the real vorlix-open,
// copied beside a stand-in viewer that reports the folder it was started in
// and which file stands behind each of b1.jpg ... b6.jpg there.
#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "show/show_list.h"
#include "test_pictures.h"
#include "viewer_process.h"

namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
};

// Runs `program` with `args` in `dir`, with the environment as it is; as
// the user nobody where `asNobody` and this is root (who reads any file).
Outcome run(const std::string &program, const std::vector<std::string> &args,
            const std::string &dir, bool asNobody = false) {
  std::string files = make_temp_dir();
  chmod(files.c_str(), 0777);
  Outcome o;
  pid_t pid = fork();
  if (pid == 0) {
    if (asNobody && getuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(65534) != 0 ||
         setuid(65534) != 0))
      _exit(126);
    if (chdir(dir.c_str()) != 0)
      _exit(126);
    int out = open((files + "/out").c_str(), O_WRONLY | O_CREAT, 0600);
    int err = open((files + "/err").c_str(), O_WRONLY | O_CREAT, 0600);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    exec_program(program, args);
  }
  waitpid(pid, &o.status, 0);
  o.out = read_file(files + "/out");
  o.err = read_file(files + "/err");
  remove_tree(files);
  return o;
}

// Fields of what the stand-in viewer printed, each ended by a NUL: the
// folder it ran in, its mode, the targets of b1.jpg ... b6.jpg, then its
// arguments.
std::vector<std::string> fields(const std::string &out) {
  std::vector<std::string> f;
  size_t start = 0;
  for (size_t end; (end = out.find('\0', start)) != std::string::npos;
       start = end + 1)
    f.push_back(out.substr(start, end - start));
  return f;
}

const char *const kStandInViewer =
    "#!/bin/sh\n"
    "printf '%s\\0' \"$(pwd -P)\" \"$(stat -c %a .)\"\n"
    "for i in 1 2 3 4 5 6; do readlink -n b$i.jpg; printf '\\0'; done\n"
    "for i in 1 2 3 4 5 6; do readlink -n b$i.mov; echo; done > \"$(dirname "
    "\"$0\")/motions\"\n"
    "[ ! -f show.list ] || cp show.list \"$(dirname \"$0\")\"\n"
    "for a in \"$@\"; do printf '%s\\0' \"$a\"; done\n";

// Records its arguments, as a desktop would show them.
const char *const kStandInNotifySend =
    "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/notified\"\n";

class LauncherTest : public ::testing::Test {
protected:
  void SetUp() override {
    bin = make_temp_dir();
    work = make_temp_dir();
    runtime = make_temp_dir();
    write_bytes(bin + "/vorlix-open", read_file(LAUNCHER_BINARY));
    write_bytes(bin + "/vorlix", kStandInViewer);
    write_bytes(bin + "/notify-send", kStandInNotifySend);
    write_bytes(bin + "/vorlix-decode", "#!/bin/sh\n");
    for (const char *f :
         {"vorlix-open", "vorlix", "notify-send", "vorlix-decode"})
      chmod((bin + "/" + f).c_str(), 0755);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("XDG_STATE_HOME", (bin + "/state").c_str(), 1);
    setenv("PATH", (bin + ":" + std::getenv("PATH")).c_str(), 1);
  }
  void TearDown() override {
    for (const std::string &d : {bin, work, runtime})
      remove_tree(d);
  }

public:
  Outcome launch(const std::vector<std::string> &args, bool asNobody = false) {
    if (asNobody) // the folders open to the user nobody too
      for (const std::string &d : {bin, work, runtime})
        chmod(d.c_str(), 0777);
    return run(bin + "/vorlix-open", args, work, asNobody);
  }
  void picture(const std::string &name) {
    write_quadrant_picture(work + "/" + name, 2, 2, kFaceColours[0]);
  }
  std::string bin, work, runtime;
};

struct Case {
  const char *name;
  std::function<void(LauncherTest &)> make; // files in the working folder
  std::vector<std::string> args;
  // Behind b1.jpg ... b6.jpg, relative to the working folder; empty when
  // the viewer runs in the working folder itself.
  std::vector<std::string> faces;
  const char *problem = ""; // else: what standard error says, and no viewer
  bool asNobody = false;    // run by a user who can't read every file
  // The show's list, where there is one: its pictures, and seconds.
  std::vector<std::string> show = {};
  double seconds = 8, longestClip = 60;
};

void PrintTo(const Case &c, std::ostream *os) {
  *os << c.name;
}

class ChoiceTest : public LauncherTest,
                   public ::testing::WithParamInterface<Case> {};

TEST_P(ChoiceTest, PutsTheRightPicturesOnTheFaces) {
  const Case &c = GetParam();
  c.make(*this);
  Outcome o = launch(c.args, c.asNobody);
  char real[4096];
  ASSERT_NE(nullptr, realpath(work.c_str(), real));
  std::vector<std::string> f = fields(o.out);
  if (*c.problem) {
    EXPECT_NE(0, WEXITSTATUS(o.status));
    EXPECT_TRUE(f.empty()) << "the viewer was started";
    EXPECT_NE(std::string::npos, o.err.find(c.problem)) << o.err;
    EXPECT_EQ(1, std::count(o.err.begin(), o.err.end(), '\n')) << o.err;
    EXPECT_NE(std::string::npos, read_file(bin + "/notified").find(c.problem))
        << "no notification";
    return;
  }
  ASSERT_EQ(0, o.status) << o.err;
  ASSERT_GE(f.size(), 8u) << o.out;
  if (c.faces.empty()) {
    EXPECT_EQ(real, f[0]) << "runs in the folder itself";
    return;
  }
  EXPECT_EQ(0u, f[0].rfind(runtime + "/vorlix-", 0)) << f[0];
  EXPECT_EQ("700", f[1]) << "the private folder's mode";
  for (int i = 0; i < 6; i++)
    EXPECT_EQ(std::string(real) + "/" + c.faces[i], f[2 + i]) << "face " << i;
  EXPECT_EQ("", run_command("ls -A " + runtime)) << "private folder left";
  ShowList list;
  ASSERT_EQ(!c.show.empty(), ReadShowList(bin + "/show.list", list));
  for (std::string &p : list.pictures)
    p = p.substr(std::string(real).size() + 1);
  EXPECT_EQ(c.show, list.pictures);
  EXPECT_EQ(c.seconds, list.seconds);
  EXPECT_EQ(c.longestClip, list.longestClip);
}

void pictures(LauncherTest &t, std::initializer_list<const char *> names) {
  for (const char *n : names)
    t.picture(n);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Launcher, ChoiceTest, ::testing::Values(
    Case{"CameraFolder", [](LauncherTest &t) {
           for (int i = 1; i <= 9; i++)
             t.picture("IMG_000" + std::to_string(i) + ".jpg");
         }, {"."},
         {"IMG_0001.jpg", "IMG_0002.jpg", "IMG_0003.jpg", "IMG_0004.jpg", "IMG_0005.jpg", "IMG_0006.jpg"}, "", false,
         {"IMG_0001.jpg", "IMG_0002.jpg", "IMG_0003.jpg", "IMG_0004.jpg", "IMG_0005.jpg", "IMG_0006.jpg", "IMG_0007.jpg", "IMG_0008.jpg", "IMG_0009.jpg"}},
    Case{"CameraFolderFirstSixOnly", [](LauncherTest &t) {
           for (int i = 1; i <= 9; i++)
             t.picture("IMG_000" + std::to_string(i) + ".jpg");
         }, {"--first-six", "."},
         {"IMG_0001.jpg", "IMG_0002.jpg", "IMG_0003.jpg", "IMG_0004.jpg", "IMG_0005.jpg", "IMG_0006.jpg"}},
    Case{"ExactlySixNoShow", [](LauncherTest &t) {
           pictures(t, {"6.png", "5.png", "4.png", "3.png", "2.png", "1.png"});
         }, {"--seconds", "3", "."},
         {"1.png", "2.png", "3.png", "4.png", "5.png", "6.png"}},
    Case{"SecondsNotANumber", [](LauncherTest &t) { t.picture("a.jpg"); },
         {"--seconds", "soon", "a.jpg"}, {}, "--seconds takes a number"},
    Case{"LongestClipOfNoLength", [](LauncherTest &t) { t.picture("a.jpg"); },
         {"--longest-clip=0", "a.jpg"}, {}, "--longest-clip takes a number"},
    Case{"NaturalOrderWithoutRegardToCase", [](LauncherTest &t) {
           pictures(t, {"photo 10.jpg", "photo 2.jpg", "Photo 3.jpg", "photo 1.jpg"});
         }, {"."},
         {"photo 1.jpg", "photo 2.jpg", "Photo 3.jpg", "photo 10.jpg", "Photo 3.jpg", "photo 10.jpg"}},
    Case{"EveryExtensionInAnyCase", [](LauncherTest &t) {
           pictures(t, {"a.JPG", "b.jpe", "c.Jpeg", "d.HEIC", "e.webp", "f.TIFF", "g.avif", "notes.txt", "jpg"});
         }, {"."},
         {"a.JPG", "b.jpe", "c.Jpeg", "d.HEIC", "e.webp", "f.TIFF"}, "", false,
         {"a.JPG", "b.jpe", "c.Jpeg", "d.HEIC", "e.webp", "f.TIFF", "g.avif"}},
    // A camera's RAW and its JPEG or HEIC are one photo, from the JPEG or
    // HEIC; a RAW alone, or named, shows itself. Drawings are pictures.
    Case{"RawBesideItsJpegOnce", [](LauncherTest &t) {
           pictures(t, {"IMG_0001.CR2", "IMG_0001.JPG", "IMG_0002.DNG", "img_0002.heic", "IMG_0003.NEF",
                        "IMG_0004.svg", "IMG_0005.raf", "IMG_0006.jpg", "IMG_0007.svgz"});
         }, {"."},
         {"IMG_0001.JPG", "img_0002.heic", "IMG_0003.NEF", "IMG_0004.svg", "IMG_0005.raf", "IMG_0006.jpg"}, "", false,
         {"IMG_0001.JPG", "img_0002.heic", "IMG_0003.NEF", "IMG_0004.svg", "IMG_0005.raf", "IMG_0006.jpg", "IMG_0007.svgz"}},
    Case{"RawNamedShowsAsNamed", [](LauncherTest &t) {
           pictures(t, {"IMG_0001.CR2", "IMG_0001.JPG"});
         }, {"IMG_0001.CR2"},
         {"IMG_0001.CR2", "IMG_0001.CR2", "IMG_0001.CR2", "IMG_0001.CR2", "IMG_0001.CR2", "IMG_0001.CR2"}},
    Case{"NotHiddenNotInSubfoldersNotText", [](LauncherTest &t) {
           pictures(t, {".hidden.jpg", "notes.txt", "real.jpg"});
           mkdir((t.work + "/sub").c_str(), 0700);
           mkdir((t.work + "/folder.jpg").c_str(), 0700);
           t.picture("sub/inside.jpg");
         }, {"--no-subfolders", "."},
         {"real.jpg", "real.jpg", "real.jpg", "real.jpg", "real.jpg", "real.jpg"}},
    Case{"LinksToPicturesOnly", [](LauncherTest &t) {
           t.picture("real.jpg");
           mkdir((t.work + "/sub").c_str(), 0700);
           symlink("real.jpg", (t.work + "/link.jpg").c_str());
           symlink("nowhere.jpg", (t.work + "/dangling.jpg").c_str());
           symlink("sub", (t.work + "/folder link.jpg").c_str());
         }, {"."},
         {"link.jpg", "link.jpg", "real.jpg", "link.jpg", "real.jpg", "real.jpg"}},
    Case{"MoreThanSixNamedAndInAFolder", [](LauncherTest &t) {
           pictures(t, {"8.png", "7.png", "6.png", "5.png", "4.png", "3.png", "2.png", "1.png"});
           mkdir((t.work + "/more").c_str(), 0700);
           pictures(t, {"more/b.png", "more/a.png"});
         }, {"--seconds=2.5", "--no-subfolders", "--longest-clip", "30", ".", "more", "1.png"},
         {"1.png", "2.png", "3.png", "4.png", "5.png", "6.png"}, "", false,
         {"1.png", "2.png", "3.png", "4.png", "5.png", "6.png", "7.png", "8.png"}, 2.5, 30},
    Case{"OnePictureCoversTheCube", [](LauncherTest &t) { t.picture("only.webp"); },
         {"only.webp"},
         {"only.webp", "only.webp", "only.webp", "only.webp", "only.webp", "only.webp"}},
    Case{"SeveralArgumentsInTheirOrder", [](LauncherTest &t) {
           pictures(t, {"z.jpg", "a.jpg"});
           mkdir((t.work + "/trip").c_str(), 0700);
           pictures(t, {"trip/2.jpg", "trip/1.jpg"});
         }, {"z.jpg", "trip", "a.jpg"},
         {"z.jpg", "trip/1.jpg", "trip/2.jpg", "a.jpg", "trip/2.jpg", "a.jpg"}},
    // Faces next to each other in the spin (front, right, back, left)
    // differ: b1 front, b2 back, b3 top, b4 bottom, b5 right, b6 left.
    Case{"ThreePicturesShareOppositeFaces", [](LauncherTest &t) {
           pictures(t, {"1.png", "2.png", "3.png"});
         }, {"."},
         {"1.png", "1.png", "2.png", "2.png", "3.png", "3.png"}},
    Case{"UnreadableFileInAFolderLeftOut", [](LauncherTest &t) {
           pictures(t, {"a.jpg", "b.jpg", "c.jpg"});
           chmod((t.work + "/b.jpg").c_str(), 0);
         }, {"."},
         {"a.jpg", "a.jpg", "c.jpg", "a.jpg", "c.jpg", "c.jpg"}, "", true},
    Case{"FolderOfFacePicturesAsItIs", [](LauncherTest &t) {
           pictures(t, {"b1.jpg", "b2.jpg", "b3.jpg", "b4.jpg", "b5.jpg", "b6.jpg", "a.jpg"});
         }, {"."}, {}},
    Case{"AnyName", [](LauncherTest &t) {
           pictures(t, {"with space.jpg", "new\nline.jpg", "-dash.jpg", "\xff\xfe.jpg"});
           mkdir((t.work + "/Fotos \xc3\xa4\xc3\xb6\xc3\xbc").c_str(), 0700);
           t.picture("Fotos \xc3\xa4\xc3\xb6\xc3\xbc/Bild.JPG");
         }, {"-dash.jpg", "new\nline.jpg", "\xff\xfe.jpg", "with space.jpg", "Fotos \xc3\xa4\xc3\xb6\xc3\xbc"},
         {"-dash.jpg", "new\nline.jpg", "\xff\xfe.jpg", "with space.jpg", "Fotos \xc3\xa4\xc3\xb6\xc3\xbc/Bild.JPG", "\xff\xfe.jpg"}},
    Case{"EmptyFolder", [](LauncherTest &) {}, {"."}, {}, "no pictures in ."},
    Case{"MissingPath", [](LauncherTest &) {}, {"gone.jpg"}, {}, "gone.jpg: No such file or directory"},
    Case{"MissingPathAmongPictures", [](LauncherTest &t) { t.picture("a.jpg"); },
         {"a.jpg", "gone\nfolder"}, {}, "gone?folder: No such file or directory"},
    Case{"TextAndClipNamed", [](LauncherTest &t) {
           write_bytes(t.work + "/notes.txt", "Notes for the trip\n");
           write_bytes(t.work + "/clip.MP4", std::string("\0\0\0\x18", 4) + "ftypisom");
         }, {"notes.txt", "clip.MP4"}, {}, "notes.txt: not a picture Vorlix can show"},
    Case{"ClipNamedAmongPictures", [](LauncherTest &t) {
           t.picture("a.jpg");
           write_bytes(t.work + "/clip.MP4", std::string("\0\0\0\x18", 4) + "ftypisom");
         }, {"a.jpg", "clip.MP4"}, {"a.jpg", "a.jpg", "clip.MP4", "a.jpg", "clip.MP4", "clip.MP4"}},
    Case{"ClipNamedWithNoClips", [](LauncherTest &t) {
           t.picture("a.jpg");
           write_bytes(t.work + "/clip.MP4", std::string("\0\0\0\x18", 4) + "ftypisom");
         }, {"--no-clips", "a.jpg", "clip.MP4"}, {}, "clip.MP4: a clip, and --no-clips leaves clips out"},
    Case{"FolderOfClipsWithNoClips", [](LauncherTest &t) {
           write_bytes(t.work + "/clip.mov", std::string("\0\0\0\x18", 4) + "ftypqt  ");
         }, {"--no-clips", "."}, {}, "no pictures in ."},
    Case{"ViewerOptionBeforeDashes", [](LauncherTest &t) { t.picture("a.jpg"); },
         {"a.jpg", "-display", ":1"}, {}, "the viewer's go after --"}),
    [](const ::testing::TestParamInfo<Case> &info) { return info.param.name; });
// clang-format on

TEST_F(LauncherTest, ViewerOptionsAfterDashesGoToTheViewer) {
  picture("a.jpg");
  Outcome o = launch({"a.jpg", "--", "-display", ":1", "--help"});
  std::vector<std::string> f = fields(o.out);
  ASSERT_EQ(11u, f.size()) << o.out;
  EXPECT_EQ("-display", f[8]);
  EXPECT_EQ(":1", f[9]);
  EXPECT_EQ("--help", f[10]);
}

TEST_F(LauncherTest, MissingSamplesAreNamed) {
  struct stat st;
  if (stat(VORLIX_SAMPLES_DIR, &st) == 0)
    GTEST_SKIP() << "the samples are installed at " << VORLIX_SAMPLES_DIR;
  Outcome o = launch({});
  EXPECT_EQ(1, WEXITSTATUS(o.status));
  EXPECT_NE(std::string::npos, o.err.find(VORLIX_SAMPLES_DIR)) << o.err;
}

// Without its decoder the viewer would show only white faces: the launcher
// says so, in one line, and starts nothing.
TEST_F(LauncherTest, MissingDecoderIsNamed) {
  if (access(INSTALLED_DECODER, F_OK) == 0)
    GTEST_SKIP() << "a decoder is installed at " << INSTALLED_DECODER;
  picture("a.jpg");
  std::string decoder = bin + "/vorlix-decode";
  for (bool present : {false, true}) {
    SCOPED_TRACE(present ? "not executable" : "missing");
    if (present) {
      write_bytes(decoder, "#!/bin/sh\n");
      chmod(decoder.c_str(), 0644);
    } else {
      unlink(decoder.c_str());
    }
    Outcome o = launch({"a.jpg"});
    EXPECT_EQ(1, WEXITSTATUS(o.status));
    EXPECT_EQ("", o.out) << "the viewer was started";
    EXPECT_EQ(0u, o.err.rfind("vorlix-open: the picture decoder ")) << o.err;
    EXPECT_NE(std::string::npos, o.err.find("vorlix-decode")) << o.err;
    EXPECT_EQ(1, std::count(o.err.begin(), o.err.end(), '\n')) << o.err;
  }
}

// A library on a slow disk (a NAS waking up), every listing 0.3 s: the
// viewer starts once the folders on the way to the first six pictures are
// read, long before the whole library is (30 folders, 9 s).
TEST_F(LauncherTest, SlowLibraryStartsAfterTheFoldersOnTheWay) {
  if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0)
    GTEST_SKIP() << "mounting a test file system takes root and /dev/fuse";
  std::string source = make_temp_dir(), slow = make_temp_dir();
  for (int f = 1; f <= 30; f++) {
    std::string folder = source + "/" + std::to_string(f);
    mkdir(folder.c_str(), 0700);
    for (const char *name : {"/a.jpg", "/b.jpg"})
      write_quadrant_picture(folder + name, 2, 2, kFaceColours[0]);
  }
  pid_t fs = fork();
  if (fs == 0)
    exec_program("/usr/bin/python3", {SLOW_LISTING_FS, source, slow, "0.3"});
  struct stat st;
  for (int i = 0; i < 100 && stat((slow + "/30").c_str(), &st) != 0; i++)
    usleep(50000);
  ASSERT_EQ(0, stat((slow + "/30").c_str(), &st)) << "not mounted";
  long long start = ViewerProcess::now_ns();
  Outcome o = launch({slow});
  double seconds = (ViewerProcess::now_ns() - start) / 1e9;
  EXPECT_EQ(0, o.status) << o.err;
  EXPECT_LT(seconds, 5) << "the whole library read first";
  ShowList list;
  ASSERT_TRUE(ReadShowList(bin + "/show.list", list));
  ASSERT_GE(list.pictures.size(), 6u);
  EXPECT_EQ(slow + "/1/a.jpg", list.pictures[0]);
  EXPECT_EQ(slow + "/3/b.jpg", list.pictures[5]);
  EXPECT_GE(list.news, 0) << "no pipe for the rest";
  run_command("umount " + slow);
  kill(fs, SIGTERM);
  waitpid(fs, nullptr, 0);
  remove_tree(source);
  remove_tree(slow);
}

// A Live Photo's motion goes with its photo: linked beside the face that
// shows it (b2.mov beside b2.jpg, where the viewer looks), and in the
// show's list after the photo; the photo alone is shown, once. So is one
// named by itself.
TEST_F(LauncherTest, LivePhotoTakesItsMotionToTheViewer) {
  for (const char *name : {"IMG_1.JPG", "IMG_2.HEIC", "IMG_3.jpg", "IMG_4.jpg",
                           "IMG_5.jpg", "IMG_6.jpg", "IMG_7.jpg", "IMG_8.JPG"})
    picture(name);
  for (const char *name : {"IMG_2.MOV", "IMG_8.mov"})
    write_bytes(work + "/" + name, "a clip");
  Outcome o = launch({"."});
  ASSERT_EQ(0, o.status) << o.err;
  char real[4096];
  ASSERT_NE(nullptr, realpath(work.c_str(), real));
  std::string at = std::string(real) + "/";
  EXPECT_EQ("\n" + at + "IMG_2.MOV\n\n\n\n\n", read_file(bin + "/motions"))
      << "b1.mov ... b6.mov";
  ShowList list;
  ASSERT_TRUE(ReadShowList(bin + "/show.list", list));
  ASSERT_EQ(8u, list.pictures.size()) << "a Live Photo is one picture";
  ASSERT_EQ(8u, list.motions.size());
  for (size_t i = 0; i < 8; i++) {
    EXPECT_EQ(at + "IMG_" + std::to_string(i + 1) +
                  (i == 1   ? ".HEIC"
                   : i == 7 ? ".JPG"
                   : i == 0 ? ".JPG"
                            : ".jpg"),
              list.pictures[i]);
    EXPECT_EQ(i == 1   ? at + "IMG_2.MOV"
              : i == 7 ? at + "IMG_8.mov"
                       : "",
              list.motions[i])
        << "picture " << i;
  }
  // Named by itself, it finds its MOV beside it (on all six faces).
  ASSERT_EQ(0, launch({"IMG_2.HEIC"}).status);
  std::string six;
  for (int face = 0; face < 6; face++)
    six += at + "IMG_2.MOV\n";
  EXPECT_EQ(six, read_file(bin + "/motions"));
}

TEST_F(LauncherTest, HelpAndVersion) {
  Outcome help = launch({"--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_EQ(0u, help.out.rfind("Usage: vorlix-open"));
  Outcome version = launch({"--version"});
  EXPECT_EQ(0, version.status);
  EXPECT_EQ(0u, version.out.rfind("vorlix-open (Vorlix) "));
}

// The photo frame's options: a schedule in any of its forms starts the
// viewer; one that is none is named, and no viewer starts. The example
// unit's own command line (its variables as it sets them) is one the
// launcher takes.
// "HH:MM" (or "HH:MM:SS") `hours` from now: a schedule that is off now
// would stop the stand-in viewer until it ends.
std::string hoursFromNow(int hours, bool seconds = false) {
  time_t t = time(nullptr) + hours * 3600;
  tm local = {};
  localtime_r(&t, &local);
  char s[16];
  std::strftime(s, sizeof s, seconds ? "%H:%M:%S" : "%H:%M", &local);
  return s;
}

TEST_F(LauncherTest, PhotoFrameOptions) {
  picture("a.jpg");
  std::string later = hoursFromNow(6) + "-" + hoursFromNow(7);
  for (const std::string &schedule :
       {later, later + "," + hoursFromNow(8, true) + "-" + hoursFromNow(9)}) {
    Outcome o = launch({"--fullscreen", "--screen-off", schedule, "a.jpg"});
    EXPECT_EQ(0, o.status) << schedule << ": " << o.err;
    EXPECT_EQ(8u, fields(o.out).size()) << schedule << ": the viewer ran";
  }
  Outcome bad = launch({"--screen-off", "11pm-7am", "a.jpg"});
  EXPECT_EQ(1, WEXITSTATUS(bad.status));
  EXPECT_NE(std::string::npos, bad.err.find("--screen-off")) << bad.err;
  EXPECT_EQ("", bad.out) << "no viewer";

  std::string unit = read_file(UNIT_FILE), line;
  std::map<std::string, std::string> vars;
  std::vector<std::string> args;
  std::istringstream lines(unit);
  while (std::getline(lines, line)) {
    if (line.rfind("Environment=", 0) == 0) {
      size_t eq = line.find('=', 12);
      vars[line.substr(12, eq - 12)] = line.substr(eq + 1);
    }
    size_t at = line.find("vorlix-open ");
    if (line.rfind("ExecStart=", 0) == 0 && at != std::string::npos) {
      std::istringstream words(line.substr(at + 12));
      for (std::string w; words >> w;)
        args.push_back(w);
    }
  }
  ASSERT_FALSE(args.empty()) << "the unit runs vorlix-open";
  ASSERT_TRUE(launch({"--screen-off", vars["SCREEN_OFF"], "--help"}).status ==
              0)
      << "its schedule, " << vars["SCREEN_OFF"] << ", is one";
  vars["SCREEN_OFF"] = later; // not now, whenever this runs
  vars["PHOTOS"] = work;      // the user's pictures: the working folder
  EXPECT_NE(args.end(), std::find(args.begin(), args.end(), "--fullscreen"));
  for (std::string &a : args)
    if (a.rfind("${", 0) == 0)
      a = vars[a.substr(2, a.size() - 3)];
  Outcome o = launch(args);
  EXPECT_EQ(0, o.status) << o.err;
  EXPECT_EQ("", o.err);
}

TEST_F(LauncherTest, ViewerExitStatusIsItsOwn) {
  picture("a.jpg");
  write_bytes(bin + "/vorlix", "#!/bin/sh\nexit 3\n");
  EXPECT_EQ(3, WEXITSTATUS(launch({"a.jpg"}).status));
  write_bytes(bin + "/vorlix", "#!/bin/sh\nkill -HUP $$\n");
  Outcome o = launch({"a.jpg"});
  EXPECT_TRUE(WIFSIGNALED(o.status) && WTERMSIG(o.status) == SIGHUP)
      << o.status;
  EXPECT_EQ("", run_command("ls -A " + runtime)) << "private folder left";
}

} // namespace
