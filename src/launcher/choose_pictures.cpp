#include "launcher/choose_pictures.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "launcher/library_walk.h"
#include "launcher/natural_order.h"
#include "picture/kinds.h"

namespace {

// A name as it can be shown in one line: control characters and bytes that
// are not UTF-8 become '?'.
std::string printable(const std::string &name) {
  std::string shown;
  size_t at = 0;
  while (at < name.size()) {
    std::mbstate_t state = {};
    wchar_t c = 0;
    size_t n = std::mbrtowc(&c, name.data() + at, name.size() - at, &state);
    if (n == 0 || n > name.size() - at || std::iswcntrl(wint_t(c))) {
      shown += '?';
      at += n == 0 || n > name.size() - at ? 1 : n;
    } else {
      shown.append(name, at, n);
      at += n;
    }
  }
  return shown;
}

// The kind of picture a file holds, told by its content as the viewer's
// loader tells it (kNotAPicture: none).
int kindHeld(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  int kind = fd >= 0 && fstat(fd, &st) == 0
                 ? PictureKindOf(ByteSource{fd, nullptr, uint64_t(st.st_size)})
                 : kNotAPicture;
  if (fd >= 0)
    close(fd);
  return kind;
}

// Which of fewer than six pictures each face shows (b1.jpg ... b6.jpg:
// front, back, top, bottom, right, left): the front face the first, and
// the faces the spin shows one after the other (front, right, back, left)
// different where they can be. Two alternate; three share opposite faces.
const int kFewerThanSix[6][kFaces] = {
    {},
    {0, 0, 0, 0, 0, 0},
    {0, 0, 1, 0, 1, 1},
    {0, 0, 1, 1, 2, 2},
    {0, 1, 2, 3, 2, 3},
    {0, 1, 2, 3, 4, 2},
};

bool holdsFacePictures(const std::string &folder) {
  for (int face = 1; face <= kFaces; face++) {
    struct stat st;
    if (lstat(FaceFile(folder, face).c_str(), &st) != 0)
      return false;
  }
  return true;
}

} // namespace

std::string AbsolutePath(std::string path) {
  if (path[0] == '/')
    return path;
  while (path.compare(0, 2, "./") == 0)
    path.erase(0, 2);
  static char here[4096];
  static bool known = getcwd(here, sizeof here) != nullptr; // asked once
  return known ? std::string(here) + "/" + path : path;
}

std::string FaceFile(const std::string &folder, int face) {
  return folder + "/b" + std::to_string(face) + ".jpg";
}

std::string MotionFile(const std::string &folder, int face) {
  return folder + "/b" + std::to_string(face) + ".mov";
}

namespace {

// The samples' folder, where it is there.
Choice samplesIn(const std::string &samples) {
  Choice choice;
  struct stat st;
  int why = stat(samples.c_str(), &st) != 0 ? errno
            : S_ISDIR(st.st_mode)           ? 0
                                            : ENOTDIR;
  if (why != 0)
    choice.problem = "no sample pictures in " + printable(samples) + ": " +
                     std::strerror(why);
  else
    choice.folder = samples;
  return choice;
}

// Takes one path given as a root of the walk; false, with the problem said,
// where it is neither a picture nor a folder, or can't be read. A single
// folder holding b1.jpg ... b6.jpg is taken as it is.
bool addPath(const std::string &path, bool alone, bool clips,
             std::vector<std::string> &roots, Choice &choice) {
  struct stat st;
  bool exists = stat(path.c_str(), &st) == 0;
  if (!exists && path[0] == '-') {
    choice.problem = printable(path) + ": no such picture or folder, nor an "
                                       "option (the viewer's go after --)";
    return false;
  }
  if (!exists || (S_ISREG(st.st_mode) && access(path.c_str(), R_OK) != 0)) {
    choice.problem = printable(path) + ": " + std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode) && alone && holdsFacePictures(path)) {
    choice.folder = path;
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr) {
      choice.problem = printable(path) + ": " + std::strerror(errno);
      return false;
    }
    closedir(dir);
  } else if (int kind = S_ISREG(st.st_mode) ? kindHeld(path) : kNotAPicture;
             kind == kNotAPicture || (!clips && IsClip(kind))) {
    choice.problem =
        printable(path) + (!S_ISREG(st.st_mode) ? ": not a picture or a folder"
                           : kind == kNotAPicture
                               ? ": not a picture Vorlix can show"
                               : ": a clip, and --no-clips leaves clips out");
    return false;
  }
  roots.push_back(path == "." ? "."
                  : path.back() == '/' && path.size() > 1
                      ? path.substr(0, path.size() - 1)
                      : path);
  return true;
}

// Walks until six pictures `preferred` says are found (or all there are),
// leaving out from the six those that can't be read, as a file manager
// would never hand them over (the viewer skips any other it can't read when
// its turn comes). The six come first in `found`.
void walkToTheFirstSix(LibraryWalk &walk, const Preferred &preferred,
                       std::vector<FoundPicture> &found) {
  std::vector<FoundPicture> six, rest;
  while (six.size() < size_t(kFaces) && !walk.done) {
    std::vector<FoundPicture> more;
    WalkOn(walk, 1, kAnyFolders, more);
    for (FoundPicture &p : more) {
      if (access(p.path.c_str(), R_OK) != 0)
        continue;
      bool face = !preferred || preferred(p.path);
      (face ? six : rest).push_back(std::move(p));
    }
  }
  // Fewer preferred than six: the others fill the faces.
  while (six.size() < size_t(kFaces) && !rest.empty()) {
    six.push_back(std::move(rest.front()));
    rest.erase(rest.begin());
  }
  // And those of the folders read already, without reading more.
  WalkOn(walk, ~size_t(0), 0, rest);
  found = std::move(six);
  for (FoundPicture &p : rest)
    found.push_back(std::move(p));
}

} // namespace

Choice ChoosePictures(const std::vector<std::string> &paths,
                      const std::string &samples, const Walking &how,
                      LibraryWalk &walk) {
  if (paths.empty())
    return samplesIn(samples);
  Choice choice;
  std::vector<std::string> roots;
  for (const std::string &path : paths)
    if (!addPath(path, paths.size() == 1, how.clips, roots, choice))
      return choice;
  StartWalk(walk, roots, how.subfolders, how.clips, how.from);
  walkToTheFirstSix(walk, how.preferred, choice.found);
  if (choice.found.empty()) {
    choice.problem = paths.size() == 1 ? "no pictures in " + printable(paths[0])
                                       : "no pictures among the paths given";
    return choice;
  }
  size_t n = choice.found.size();
  for (int face = 0; face < kFaces; face++) {
    const FoundPicture &p =
        choice.found[n >= size_t(kFaces) ? size_t(face)
                                         : size_t(kFewerThanSix[n][face])];
    choice.pictures.push_back(p.path);
    choice.motions.push_back(p.motion);
  }
  // A show where there are more than six, or may be: new photos join it.
  choice.more =
      how.all && !walk.folders.empty() && (!walk.done || n > size_t(kFaces));
  if (how.all && (n > size_t(kFaces) || choice.more))
    for (const FoundPicture &p : choice.found) {
      choice.show.push_back(p.path);
      choice.showMotions.push_back(p.motion);
    }
  return choice;
}
