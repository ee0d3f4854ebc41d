// vorlix-open: starts Vorlix on any pictures or folders, named as they are.
//
// The viewer reads b1.jpg ... b6.jpg from the folder it runs in. For other
// pictures this makes a private folder (mode 0700, in $XDG_RUNTIME_DIR, else
// the temporary folder) holding links b1.jpg ... b6.jpg to the chosen ones
// and, where there are more than six, the list of those found so far for
// the viewer to show in turn (show/show_list.h), runs the viewer there,
// keeps the show going while it runs (running_show.h), and removes the
// folder when the viewer ends, also when this is ended by SIGTERM, SIGHUP
// or SIGINT. The viewer's exit status is this program's.
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <langinfo.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "launcher/choose_pictures.h"
#include "launcher/command_line.h"
#include "launcher/photo_frame/photo_frame.h"
#include "launcher/running_show.h"
#include "picture/protocol.h"
#include "show/show_list.h"

namespace {

pid_t viewer = -1;
volatile sig_atomic_t endedBy = 0;
sigset_t startingMask; // the signal mask this program was started with

// A signal that ends this program ends the viewer first, so that the
// private folder can be removed after it.
void passOn(int signal) {
  endedBy = signal;
  if (viewer > 0) {
    kill(viewer, signal);
    kill(viewer, SIGCONT); // where it was stopped for the night
  }
}

const int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT};

// Until the viewer runs, the ending signals wait: nothing is left behind
// half made.
void holdEndingSignals() {
  sigset_t ending;
  sigemptyset(&ending);
  for (int s : kEndingSignals)
    sigaddset(&ending, s);
  sigprocmask(SIG_BLOCK, &ending, &startingMask);
}

// Says what is wrong, in one line on standard error and, for a start from
// the desktop (which has no terminal), in a notification when notify-send
// is there.
void complain(const std::string &problem) {
  std::fprintf(stderr, "vorlix-open: %s\n", problem.c_str());
  if (isatty(STDERR_FILENO))
    return;
  pid_t pid = fork();
  if (pid == 0) {
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, STDOUT_FILENO);
    dup2(devnull, STDERR_FILENO);
    execlp("notify-send", "notify-send", "--app-name=Vorlix", "--icon=vorlix",
           "Vorlix: nothing to show", problem.c_str(),
           static_cast<char *>(nullptr));
    _exit(127);
  }
  // It normally answers at once; it is not waited for long.
  for (int i = 0; pid > 0 && i < 200; i++) {
    if (waitpid(pid, nullptr, WNOHANG) != 0)
      break;
    usleep(10000);
  }
}

std::string viewerPath() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0)
    return "vorlix";
  std::string path(self, size_t(n));
  return path.substr(0, path.rfind('/') + 1) + "vorlix";
}

// The private folder with links b1.jpg ... b6.jpg to the pictures (and
// b1.mov ... to the motions of those that are Live Photos) and, for a show,
// its list (`show`'s settings, the choice's pictures); empty when it can't
// be made.
std::string linkFaces(const Choice &choice, ShowList show) {
  const std::vector<std::string> &pictures = choice.pictures;
  const char *base = std::getenv("XDG_RUNTIME_DIR");
  if (base == nullptr || access(base, W_OK | X_OK) != 0)
    base = std::getenv("TMPDIR");
  if (base == nullptr || access(base, W_OK | X_OK) != 0)
    base = "/tmp";
  std::string folder = std::string(base) + "/vorlix-XXXXXX";
  if (mkdtemp(&folder[0]) == nullptr)
    return "";
  for (size_t i = 0; i < pictures.size(); i++) {
    std::string link = FaceFile(folder, int(i) + 1);
    if (symlink(AbsolutePath(pictures[i]).c_str(), link.c_str()) != 0)
      return folder; // the faces not linked show white
    const std::string &motion = choice.motions[i];
    if (!motion.empty())
      symlink(AbsolutePath(motion).c_str(),
              MotionFile(folder, int(i) + 1).c_str());
  }
  show.pictures = choice.show;
  show.motions = choice.showMotions;
  if (!show.pictures.empty()) { // without it, the first six only
    for (std::string &picture : show.pictures)
      picture = AbsolutePath(picture);
    for (std::string &motion : show.motions)
      motion = motion.empty() ? motion : AbsolutePath(motion);
    WriteShowList(folder + "/" + kShowListFile, show);
  }
  return folder;
}

void removeFaces(const std::string &folder) {
  for (int face = 1; face <= kFaces; face++) {
    unlink(FaceFile(folder, face).c_str());
    unlink(MotionFile(folder, face).c_str());
  }
  unlink((folder + "/" + kShowListFile).c_str());
  rmdir(folder.c_str());
}

// Runs the viewer in `folder` with `options`, and `meanwhile` while it
// runs, until it ends; its wait status.
int runViewer(const std::string &folder, std::vector<char *> options,
              const PhotoFrame &frame, const std::function<void()> &meanwhile) {
  std::string program = viewerPath();
  options.insert(options.begin(), &program[0]);
  options.push_back(nullptr);
  viewer = fork();
  if (viewer == 0) {
    sigprocmask(SIG_SETMASK, &startingMask, nullptr);
    std::signal(SIGPIPE, SIG_DFL);
    if (FrameWanted(frame)) // stopped with its decoders at night
      setpgid(0, 0);
    if (chdir(folder.c_str()) != 0) {
      std::perror("vorlix-open");
      _exit(127);
    }
    execv(options[0], options.data());
    std::fprintf(stderr, "vorlix-open: can't start %s: %s\n", options[0],
                 std::strerror(errno));
    _exit(127);
  }
  struct sigaction pass = {};
  pass.sa_handler = passOn;
  for (int s : kEndingSignals)
    sigaction(s, &pass, nullptr);
  sigprocmask(SIG_SETMASK, &startingMask, nullptr);
  if (viewer > 0 && FrameWanted(frame)) {
    setpgid(viewer, viewer);
    StartPhotoFrame(frame, viewer);
  }
  if (viewer > 0 && meanwhile)
    meanwhile();
  int status = 0;
  while (viewer > 0 && waitpid(viewer, &status, 0) < 0 && errno == EINTR) {
  }
  EndPhotoFrame();
  return viewer > 0 ? status : 127 << 8;
}

// Ends this program as the viewer ended: with its exit status, or by the
// signal that ended it (as a shell reports a crash: 128 + the signal, rather
// than a core file of this program's own).
[[noreturn]] void endAsViewer(int status) {
  int signal = WIFSIGNALED(status) ? WTERMSIG(status) : endedBy;
  bool ending = signal == SIGKILL;
  for (int s : kEndingSignals)
    ending = ending || signal == s;
  if (ending) {
    std::signal(signal, SIG_DFL);
    sigprocmask(SIG_SETMASK, &startingMask, nullptr);
    raise(signal);
  }
  if (signal != 0)
    std::exit(128 + signal);
  std::exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

// Names are compared and shown in UTF-8, whatever the locale.
void useUtf8() {
  if (!std::setlocale(LC_CTYPE, "") ||
      std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
    std::setlocale(LC_CTYPE, "C.UTF-8");
}

// Without its decoder the viewer would show only white faces: false, said,
// where it is missing.
bool decoderThere() {
  std::string decoder = DecoderProgram(viewerPath());
  if (access(decoder.c_str(), X_OK) == 0)
    return true;
  complain("the picture decoder " + decoder +
           " is missing or can't be run; reinstall Vorlix");
  return false;
}

// The pipes the rest of a show comes on, and what the viewer saw goes back
// on; the viewer's ends, open across its exec, named in `show`. False, said,
// where they can't be made.
bool showPipes(int news[2], int seen[2], ShowList &show) {
  if (pipe2(news, O_CLOEXEC) != 0 || pipe2(seen, O_CLOEXEC) != 0) {
    complain(std::string("can't start the show: ") + std::strerror(errno));
    return false;
  }
  fcntl(news[0], F_SETFD, 0);
  fcntl(seen[1], F_SETFD, 0);
  show.news = news[0];
  show.seen = seen[1];
  return true;
}

} // namespace

int main(int argc, char **argv) {
  useUtf8();
  holdEndingSignals();
  std::signal(SIGPIPE, SIG_IGN); // a viewer gone is seen as it ends
  Request r;
  std::string problem;
  int status = ReadCommandLine(argc, argv, r, problem);
  if (!problem.empty())
    complain(problem);
  if (status >= 0)
    return status;
  if (!decoderThere())
    return 1;
  RunningShow running;
  running.lookEverySeconds = r.lookEverySeconds;
  Walking how = PlanTheWalk(running, r);
  Choice choice =
      ChoosePictures(r.paths, VORLIX_SAMPLES_DIR, how, running.walk);
  if (!choice.problem.empty()) {
    complain(choice.problem);
    return 1;
  }
  if (!choice.folder.empty())
    endAsViewer(runViewer(choice.folder, r.options, r.frame, nullptr));
  if (r.show.shuffled && running.walk.done)
    FirstOfTheRound(r.show, choice);
  int news[2] = {-1, -1}, seen[2] = {-1, -1};
  if (choice.more && !showPipes(news, seen, r.show))
    return 1;
  std::string folder = linkFaces(choice, r.show);
  if (folder.empty()) {
    complain(std::string("can't make a folder for the pictures: ") +
             std::strerror(errno));
    return 1;
  }
  status = runViewer(folder, r.options, r.frame, [&] {
    if (!choice.more)
      return;
    close(news[0]);
    close(seen[1]);
    running.news = news[1];
    running.seen = seen[0];
    ListedAtStart(running, choice.found);
    // The walk on and the watch, behind the viewer's own decoding.
    setpriority(PRIO_PROCESS, 0, 10);
    KeepTheShowGoing(running);
  });
  removeFaces(folder);
  endAsViewer(status);
}