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

#include "picture/kinds.h"

namespace {

// One character of a name at `at`, moved past: a letter folded to lower
// case, or a byte that is not UTF-8 as itself (above every character).
wint_t nextFolded(const std::string &s, size_t &at) {
  std::mbstate_t state = {};
  wchar_t c = 0;
  size_t n = std::mbrtowc(&c, s.data() + at, s.size() - at, &state);
  if (n == 0 || n > s.size() - at) { // a NUL, or not UTF-8
    return 0x110000 + static_cast<unsigned char>(s[at++]);
  }
  at += n;
  return std::towlower(wint_t(c));
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Compares the runs of digits starting at i and j by their value, and moves
// past them: below 0, 0 or above 0.
int compareNumbers(const std::string &a, size_t &i, const std::string &b,
                   size_t &j) {
  while (i + 1 < a.size() && a[i] == '0' && isDigit(a[i + 1]))
    i++;
  while (j + 1 < b.size() && b[j] == '0' && isDigit(b[j + 1]))
    j++;
  size_t i0 = i, j0 = j;
  while (i < a.size() && isDigit(a[i]))
    i++;
  while (j < b.size() && isDigit(b[j]))
    j++;
  if (i - i0 != j - j0)
    return i - i0 < j - j0 ? -1 : 1;
  return a.compare(i0, i - i0, b, j0, j - j0);
}

// A name as NaturalLess compares it, as numbers that compare the same way
// in order: each character folded to lower case (shifted above the
// numbers' places), each run of digits as its length without leading
// zeros (in the digits' place among characters) and then its digits.
std::vector<uint64_t> naturalKey(const std::string &s) {
  std::vector<uint64_t> key;
  size_t at = 0;
  while (at < s.size()) {
    if (!isDigit(s[at])) {
      key.push_back(uint64_t(nextFolded(s, at)) << 40);
      continue;
    }
    while (at + 1 < s.size() && s[at] == '0' && isDigit(s[at + 1]))
      at++;
    size_t start = at;
    while (at < s.size() && isDigit(s[at]))
      at++;
    key.push_back(uint64_t('0') << 40 | (at - start));
    for (size_t i = start; i < at; i++)
      key.push_back(uint64_t(s[i] - '0'));
  }
  return key;
}

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

// The pictures directly in a folder (not in its subfolders), hidden files
// left out, in the order a file manager shows them: all of them, or (not
// `all`) the first six. One that can't be read is left out too, as a file
// manager would never hand it over; only those that come first are asked
// after (the viewer skips any other it can't read when its turn comes).
bool picturesIn(const std::string &folder, bool all,
                std::vector<std::string> &found, std::string &problem) {
  DIR *dir = opendir(folder.c_str());
  if (dir == nullptr) {
    problem = printable(folder) + ": " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> names;
  while (dirent *e = readdir(dir)) {
    if (e->d_name[0] == '.' || !NamedLikeAPicture(e->d_name))
      continue;
    struct stat st;
    bool regular =
        e->d_type == DT_REG ||
        ((e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) &&
         fstatat(dirfd(dir), e->d_name, &st, 0) == 0 && S_ISREG(st.st_mode));
    if (regular)
      names.push_back(e->d_name);
  }
  std::string in = folder == "."          ? ""
                   : folder.back() == '/' ? folder
                                          : folder + "/";
  if (all)
    SortNaturally(names);
  size_t taken = 0, next = 0;
  while (taken < size_t(kFaces) && next < names.size()) {
    size_t end = std::min(names.size(), next + size_t(kFaces));
    if (!all)
      std::partial_sort(names.begin() + long(next), names.begin() + long(end),
                        names.end(), NaturalLess);
    for (; next < end && taken < size_t(kFaces); next++)
      if (faccessat(dirfd(dir), names[next].c_str(), R_OK, 0) == 0) {
        found.push_back(in + names[next]);
        taken++;
      }
  }
  for (; all && next < names.size(); next++)
    found.push_back(in + names[next]);
  closedir(dir);
  return true;
}

// Whether a file holds a picture the viewer reads, told by its content as
// the viewer's loader tells it.
bool holdsAPicture(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  bool picture = fd >= 0 && fstat(fd, &st) == 0 &&
                 PictureKindOf(ByteSource{fd, nullptr, uint64_t(st.st_size)}) !=
                     kNotAPicture;
  if (fd >= 0)
    close(fd);
  return picture;
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

bool NaturalLess(const std::string &a, const std::string &b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      if (int order = compareNumbers(a, i, b, j))
        return order < 0;
      continue;
    }
    wint_t x = nextFolded(a, i), y = nextFolded(b, j);
    if (x != y)
      return x < y;
  }
  if ((i < a.size()) != (j < b.size()))
    return j < b.size();
  return a < b; // equal but for case or leading zeros: a fixed order
}

void SortNaturally(std::vector<std::string> &names) {
  // Each name's folded characters and numbers once, not once a comparison:
  // a folder of 20,000 pictures sorts in milliseconds.
  struct Keyed {
    std::vector<uint64_t> key;
    std::string *name;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(names.size());
  for (std::string &name : names)
    keyed.push_back({naturalKey(name), &name});
  std::sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) {
    return a.key != b.key ? a.key < b.key : *a.name < *b.name;
  });
  std::vector<std::string> sorted;
  sorted.reserve(names.size());
  for (Keyed &k : keyed)
    sorted.push_back(std::move(*k.name));
  names = std::move(sorted);
}

std::string FaceFile(const std::string &folder, int face) {
  return folder + "/b" + std::to_string(face) + ".jpg";
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

// Adds what one path given stands for to the pictures found; false, with
// the problem said, where it is neither a picture nor a folder, or can't be
// read. A single folder holding b1.jpg ... b6.jpg is taken as it is.
bool addPath(const std::string &path, bool alone, bool all,
             std::vector<std::string> &found, Choice &choice) {
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
  if (S_ISDIR(st.st_mode))
    return picturesIn(path, all, found, choice.problem);
  if (S_ISREG(st.st_mode) && holdsAPicture(path)) {
    found.push_back(path);
    return true;
  }
  choice.problem =
      printable(path) + (S_ISREG(st.st_mode) ? ": not a picture Vorlix can show"
                                             : ": not a picture or a folder");
  return false;
}

} // namespace

Choice ChoosePictures(const std::vector<std::string> &paths,
                      const std::string &samples, bool all) {
  if (paths.empty())
    return samplesIn(samples);
  Choice choice;
  std::vector<std::string> found;
  for (const std::string &path : paths)
    if ((all || found.size() < size_t(kFaces)) &&
        !addPath(path, paths.size() == 1, all, found, choice))
      return choice;
  if (found.empty()) {
    choice.problem = paths.size() == 1 ? "no pictures in " + printable(paths[0])
                                       : "no pictures among the paths given";
    return choice;
  }
  for (int face = 0; face < kFaces; face++)
    choice.pictures.push_back(found.size() >= size_t(kFaces)
                                  ? found[size_t(face)]
                                  : found[kFewerThanSix[found.size()][face]]);
  if (found.size() > size_t(kFaces))
    choice.show = std::move(found);
  return choice;
}
