#include "launcher/library_walk.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "launcher/natural_order.h"
#include "launcher/one_photo.h"
#include "picture/kinds.h"

namespace {

// What NAS boxes, cameras and operating systems keep beside photos, never
// walked into (hidden folders, whose names begin with ".", never are).
struct LeftOut {
  const char *name;
  const char *why;
};
// clang-format off
const LeftOut kLeftOut[] = {
  {"@eaDir",                    "Synology's thumbnails and index of each photo"},
  {"#recycle",                  "Synology's recycle bin of a shared folder"},
  {"#snapshot",                 "Synology's snapshots: the library again, as it was"},
  {"@Recycle",                  "QNAP's recycle bin"},
  {"@Recently-Snapshot",        "QNAP's snapshots"},
  {"@__thumb",                  "QNAP's thumbnails"},
  {"@tmp",                      "Synology's and QNAP's files being written"},
  {"lost+found",                "what a file system check recovered: pieces, not photos"},
  {"$RECYCLE.BIN",              "Windows' recycle bin on a disk or card"},
  {"RECYCLER",                  "older Windows' recycle bin"},
  {"System Volume Information", "Windows' restore points and index"},
  {"__MACOSX",                  "macOS's resource forks, left by unpacking a zip"},
  {"Network Trash Folder",      "old macOS servers' recycle bin"},
  {"Temporary Items",           "macOS's files being written on a server"},
};
// clang-format on

bool leftOut(const char *name) {
  if (name[0] == '.')
    return true; // hidden, and "." and ".."
  for (const LeftOut &l : kLeftOut)
    if (std::strcmp(name, l.name) == 0)
      return true;
  return false;
}

constexpr uint64_t kFolderMark = 1, kFileMark = 2, kEnd = 0;

// Compares keys component by component: below 0, 0 or above 0.
int compareKeys(const PlaceKey &a, const PlaceKey &b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; i++)
    if (a[i] != b[i])
      return a[i] < b[i] ? -1 : 1;
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// Whether what has `key` is walked in this part of the walk: before the
// wrap, what comes after `from` (and the folders on the way to it); after
// the wrap, what comes up to it.
bool inThisPart(const LibraryWalk &w, const PlaceKey &key, bool isFolder) {
  if (w.from.empty())
    return !w.wrapped;
  if (isFolder && KeyAbove(key, w.from))
    return true;
  int order = compareKeys(key, w.from);
  return w.wrapped ? order <= 0 : order > 0;
}

void pushRoots(LibraryWalk &w) {
  for (size_t i = w.roots.size(); i-- > 0;) {
    struct stat st;
    bool folder = stat(w.roots[i].c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    PlaceKey key = RootKey(int(i));
    if (folder) {
      w.stack.push_back({true, int(i), w.roots[i], key, {}});
    } else if (inThisPart(w, key, false)) {
      LibraryWalk::Pending picture = {false, int(i), "", key, {}};
      picture.pictures.push_back(
          {w.roots[i], key, w.clips ? MotionBeside(w.roots[i]) : ""});
      w.stack.push_back(picture);
    }
  }
}

// Reads the folder on top of the stack: it becomes its pictures, with its
// subfolders above them.
void readTop(LibraryWalk &w) {
  LibraryWalk::Pending folder = std::move(w.stack.back());
  w.stack.pop_back();
  FolderListing listing;
  // After the wrap, the folders on the way to where the walk started are
  // read again; any other is read once.
  bool onTheWay = w.wrapped && KeyAbove(folder.key, w.from);
  if (!ListFolder(folder.path, folder.key, w.subfolders, w.clips, listing))
    return;
  if (EnterOnce(w.entered, listing.device, listing.inode))
    w.folders.push_back({folder.path, folder.key, folder.root, listing.device,
                         listing.inode, listing.modified});
  else if (!onTheWay)
    return;
  LibraryWalk::Pending own = {false, folder.root, folder.path, folder.key, {}};
  for (auto &p : listing.pictures)
    if (inThisPart(w, p.second, false))
      own.pictures.push_back({folder.path + "/" + p.first, p.second,
                              MotionOf(listing, folder.path, p.first)});
  std::reverse(own.pictures.begin(), own.pictures.end()); // taken from the end
  w.stack.push_back(std::move(own));
  if (!w.subfolders)
    return;
  for (size_t i = listing.subfolders.size(); i-- > 0;) {
    auto &s = listing.subfolders[i];
    if (inThisPart(w, s.second, true))
      w.stack.push_back(
          {true, folder.root, folder.path + "/" + s.first, s.second, {}});
  }
}

} // namespace

bool EnterOnce(std::vector<std::pair<dev_t, ino_t>> &entered, dev_t device,
               ino_t inode) {
  auto id = std::make_pair(device, inode);
  auto at = std::lower_bound(entered.begin(), entered.end(), id);
  if (at != entered.end() && *at == id)
    return false;
  entered.insert(at, id);
  return true;
}

std::string MotionOf(const FolderListing &listing, const std::string &folder,
                     const std::string &name) {
  auto motion = listing.motions.find(name);
  return motion == listing.motions.end() ? "" : folder + "/" + motion->second;
}

PlaceKey RootKey(int root) {
  return {kFolderMark, uint64_t(root)};
}

PlaceKey KeyIn(const PlaceKey &folder, const std::string &name, bool isFolder) {
  PlaceKey key = folder;
  key.push_back(isFolder ? kFolderMark : kFileMark);
  for (uint64_t k : NaturalKey(name))
    key.push_back(k + 1); // above kEnd
  key.push_back(kEnd);
  return key;
}

PlaceKey KeyOfPath(const std::vector<std::string> &roots,
                   const std::string &path) {
  for (size_t i = 0; i < roots.size(); i++) {
    const std::string &root = roots[i];
    if (path == root)
      return RootKey(int(i));
    if (path.compare(0, root.size() + 1, root + "/") != 0)
      continue;
    PlaceKey key = RootKey(int(i));
    for (size_t at = root.size() + 1; at <= path.size();) {
      size_t slash = path.find('/', at);
      bool folder = slash != std::string::npos;
      key = KeyIn(key, path.substr(at, (folder ? slash : path.size()) - at),
                  folder);
      at = folder ? slash + 1 : path.size() + 1;
    }
    return key;
  }
  return {};
}

bool KeyAbove(const PlaceKey &a, const PlaceKey &b) {
  return a.size() < b.size() && std::equal(a.begin(), a.end(), b.begin());
}

bool ListFolder(const std::string &path, const PlaceKey &key, bool subfolders,
                bool clips, FolderListing &out) {
  if (path.size() >= PATH_MAX)
    return false;
  DIR *dir = opendir(path.c_str());
  struct stat st;
  if (dir == nullptr)
    return false;
  if (fstat(dirfd(dir), &st) != 0) {
    closedir(dir);
    return false;
  }
  out.device = st.st_dev;
  out.inode = st.st_ino;
  out.modified = st.st_mtim;
  while (dirent *e = readdir(dir)) {
    if (leftOut(e->d_name) ||
        path.size() + 1 + std::strlen(e->d_name) >= PATH_MAX)
      continue;
    bool known = e->d_type == DT_DIR || e->d_type == DT_REG;
    bool folder = e->d_type == DT_DIR, regular = e->d_type == DT_REG;
    int kind = KindNamed(e->d_name);
    bool named = kind != kNotAPicture && (clips || !IsClip(kind));
    if (!known && (subfolders || named) &&
        fstatat(dirfd(dir), e->d_name, &st, 0) == 0) { // links followed
      folder = S_ISDIR(st.st_mode);
      regular = S_ISREG(st.st_mode);
    }
    if (folder && subfolders)
      out.subfolders.push_back({e->d_name, KeyIn(key, e->d_name, true)});
    else if (regular && named)
      out.pictures.push_back({e->d_name, KeyIn(key, e->d_name, false)});
  }
  closedir(dir);
  OneOfEachPhoto(path, out);
  auto byKey = [](const auto &a, const auto &b) {
    int order = compareKeys(a.second, b.second);
    return order != 0 ? order < 0 : a.first < b.first;
  };
  std::sort(out.subfolders.begin(), out.subfolders.end(), byKey);
  std::sort(out.pictures.begin(), out.pictures.end(), byKey);
  return true;
}

void StartWalk(LibraryWalk &w, const std::vector<std::string> &roots,
               bool subfolders, bool clips, const PlaceKey &from) {
  w = {};
  w.roots = roots;
  w.subfolders = subfolders;
  w.clips = clips;
  w.from = from;
  pushRoots(w);
}

void WalkOn(LibraryWalk &w, size_t want, size_t folders,
            std::vector<FoundPicture> &found) {
  size_t got = 0, read = 0;
  while (got < want) {
    if (w.stack.empty()) {
      if (w.from.empty() || w.wrapped) {
        w.done = true;
        return;
      }
      w.wrapped = true; // now what comes up to where it started
      pushRoots(w);
      return; // a call never finds pictures of both parts
    }
    LibraryWalk::Pending &top = w.stack.back();
    if (top.isFolder && read == folders)
      return;
    if (top.isFolder) {
      readTop(w);
      read++;
    } else if (top.pictures.empty()) {
      w.stack.pop_back();
    } else {
      found.push_back(std::move(top.pictures.back()));
      top.pictures.pop_back();
      got++;
    }
  }
}
