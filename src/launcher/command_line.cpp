#include "launcher/command_line.h"

#include <cstdio>
#include <cstdlib>

namespace {

const char *const kHelp =
    "Usage: vorlix-open [OPTION]... [PICTURE | FOLDER]... [-- VIEWER "
    "OPTION...]\n"
    "Shows pictures on the faces of Vorlix's spinning cube.\n"
    "\n"
    "  (nothing)        the sample pictures\n"
    "  FOLDER           the pictures in it and its subfolders, in the\n"
    "                   order a file manager shows them (a folder holding\n"
    "                   b1.jpg ... b6.jpg shows those)\n"
    "  PICTURE...       these pictures, on the front, back, top, bottom,\n"
    "                   right and left face; fewer than six are repeated,\n"
    "                   faces next to each other in the spin different\n"
    "More than six pictures are shown in turn, each once a round: a face\n"
    "takes the next only while it is turned away.\n"
    "  --seconds S      each on show for at least S seconds (default 8)\n"
    "  --longest-clip S a clip on show until it has played once, at most\n"
    "                   S seconds (default 60)\n"
    "  --shuffle        in a new order each round\n"
    "  --first-six      only the first six, none in turn\n"
    "  --no-subfolders  only the folders' own pictures\n"
    "  --no-clips       no clips (MP4, MOV, WebM ...), pictures only\n"
    "  --from-start     from the beginning, not where the show stopped\n"
    "  --rescan S       look for new photos every S seconds (default 30)\n"
    "A photo frame:\n"
    "  --fullscreen     the cube fills the screen, the pointer hidden\n"
    "  --screen-off HH:MM-HH:MM[,HH:MM-HH:MM...]\n"
    "                   the screen off, and the show paused, at these\n"
    "                   hours of the day (HH:MM:SS for seconds), e.g.\n"
    "                   23:00-07:00\n"
    "  -- OPTION...     options for the viewer's toolkit, e.g. -display :1\n"
    "  --help           this help\n"
    "  --version        the version\n"
    "\n"
    "Keys: x, y and z turn the cube one degree about that axis.\n"
    "Close the window to quit.\n";

// A number of seconds above 0 from an option's value; false where it is
// not one (`problem` says so).
bool seconds(const char *option, const char *value, double &out,
             std::string &problem) {
  char *rest = nullptr;
  out = std::strtod(value, &rest);
  if (*value != '\0' && *rest == '\0' && out > 0 && out < 1e6)
    return true;
  problem = std::string(option) + " takes a number of seconds above 0";
  return false;
}

// The setting an option of seconds sets (--seconds, --longest-clip,
// --rescan, alone or with =S), or null.
double *secondsOption(const std::string &arg, Request &r) {
  std::string name = arg.substr(0, arg.find('='));
  return name == "--seconds"        ? &r.show.seconds
         : name == "--longest-clip" ? &r.show.longestClip
         : name == "--rescan"       ? &r.lookEverySeconds
                                    : nullptr;
}

// A photo frame's option at argv[i] (its value taken too): 0 read, 1 not
// one to be read (`problem` says why), -1 none of them.
int photoFrameOption(int argc, char **argv, int &i, PhotoFrame &frame,
                     std::string &problem) {
  std::string arg = argv[i];
  if (arg == "--fullscreen") {
    frame.fullscreen = true;
    return 0;
  }
  if (arg != "--screen-off" && arg.rfind("--screen-off=", 0) != 0)
    return -1;
  const char *value = arg == "--screen-off" ? (i + 1 < argc ? argv[++i] : "")
                                            : argv[i] + sizeof "--screen-off";
  if (ReadScreenSchedule(value, frame.screenOff))
    return 0;
  problem = std::string("--screen-off takes ranges of the day such as "
                        "23:00-07:00, not \"") +
            value + "\"";
  return 1;
}

} // namespace

int ReadCommandLine(int argc, char **argv, Request &r, std::string &problem) {
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--") {
      r.options.assign(argv + i + 1, argv + argc);
      for (size_t o = 0; o + 1 < r.options.size(); o++)
        if (std::string(r.options[o]) == "-display")
          r.frame.display = r.options[o + 1];
      break;
    }
    if (arg == "--shuffle" || arg == "--first-six" ||
        arg == "--no-subfolders" || arg == "--from-start" ||
        arg == "--no-clips") {
      r.show.shuffled = r.show.shuffled || arg == "--shuffle";
      r.clips = r.clips && arg != "--no-clips";
      r.firstSix = r.firstSix || arg == "--first-six";
      r.subfolders = r.subfolders && arg != "--no-subfolders";
      r.fromStart = r.fromStart || arg == "--from-start";
      continue;
    }
    if (double *s = secondsOption(arg, r)) {
      std::string name = arg.substr(0, arg.find('='));
      const char *value = arg == name ? (i + 1 < argc ? argv[++i] : "")
                                      : argv[i] + name.size() + 1;
      if (!seconds(name.c_str(), value, *s, problem))
        return 1;
      continue;
    }
    int frame = photoFrameOption(argc, argv, i, r.frame, problem);
    if (frame == 1)
      return 1;
    if (frame == 0)
      continue;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("vorlix-open (Vorlix) %s\n", VORLIX_VERSION);
      return 0;
    }
    r.paths.push_back(arg);
  }
  return -1;
}
