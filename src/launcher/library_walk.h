// The walk through a photo library: the folders given and their subfolders
// at any depth, as a file manager lists them (subfolders first, then the
// pictures, each in natural order: "photo 2" before "photo 10"), left out
// what is hidden and the clutter that NAS boxes and systems keep beside
// photos. A walk goes on a little at a time, so that the viewer can start
// as soon as its first six pictures are known; it never holds a folder
// open while it goes deeper, never enters a folder twice (a link loop
// ends), and never opens what is not a regular file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

// A picture's place in the order of a walk: which path given (its index),
// then its path below that folder, component by component, each
// component's natural order key (choose_pictures.h), folders before files.
using PlaceKey = std::vector<uint64_t>;

struct FoundPicture {
  std::string path; // as given, joined with its path below it
  PlaceKey key;
  std::string motion; // a Live Photo's MOV, as `path` is; empty for none
};

// A folder the walk read, to be looked at again (library_watch.h).
struct ReadFolder {
  std::string path;
  PlaceKey key; // its place, as a folder
  int root;
  dev_t device;
  ino_t inode;
  struct timespec modified;
};

struct LibraryWalk {
  std::vector<std::string> roots; // the paths given, folders or pictures
  bool subfolders = true;         // else only the folders' own pictures
  bool clips = true;              // else clips are left out
  // Where a walk starts (a remembered place): only what comes after `from`
  // is walked first, then (`wrapped`) what comes up to it.
  PlaceKey from;
  bool wrapped = false, done = false;
  struct Pending {
    bool isFolder;
    int root;
    std::string path;
    PlaceKey key;
    std::vector<FoundPicture> pictures; // a folder's own, once it was read
  };
  std::vector<Pending> stack;                   // the top is walked next
  std::vector<std::pair<dev_t, ino_t>> entered; // sorted
  std::vector<ReadFolder> folders;
};

// A walk of `roots` in the order given, from `from` on (empty: from the
// start).
void StartWalk(LibraryWalk &w, const std::vector<std::string> &roots,
               bool subfolders, bool clips, const PlaceKey &from);

// Walks on until `want` more pictures were found or the walk is done (then
// `w.done`), adding them to `found` in the walk's order; reads at most
// `folders` folders (kAnyFolders: as many as it takes). Where the walk wraps
// (`w.wrapped`: now the pictures up to `from`), the call ends: no call finds
// both parts.
constexpr size_t kAnyFolders = ~size_t(0);
void WalkOn(LibraryWalk &w, size_t want, size_t folders,
            std::vector<FoundPicture> &found);

// One folder's subfolders and pictures, as the walk takes them (nothing
// hidden or left out, links followed, only regular files taken); false
// where it can't be read. `key` is the folder's place; clips are left out
// unless `clips`. A Live Photo is listed as its photo, its MOV in
// `motions`.
struct FolderListing {
  std::vector<std::pair<std::string, PlaceKey>> subfolders, pictures;
  std::map<std::string, std::string> motions; // a Live Photo's name: its MOV's
  dev_t device = 0;
  ino_t inode = 0;
  struct timespec modified = {};
};
bool ListFolder(const std::string &path, const PlaceKey &key, bool subfolders,
                bool clips, FolderListing &out);
// The path of the motion of the Live Photo `name` listed in `folder`, or
// empty.
std::string MotionOf(const FolderListing &listing, const std::string &folder,
                     const std::string &name);

// The key of `name` in the folder of key `folder`.
PlaceKey KeyIn(const PlaceKey &folder, const std::string &name, bool isFolder);
// Marks a folder entered (by device and inode, in the sorted `entered`);
// false where it was entered before.
bool EnterOnce(std::vector<std::pair<dev_t, ino_t>> &entered, dev_t device,
               ino_t inode);

// A path given's key.
PlaceKey RootKey(int root);
// The key of a picture at `path`, below one of `roots` (or one of them);
// empty where it is below none.
PlaceKey KeyOfPath(const std::vector<std::string> &roots,
                   const std::string &path);
// Whether `a` is `b`'s folder, or a folder above it.
bool KeyAbove(const PlaceKey &a, const PlaceKey &b);
