#include "show/show_order.h"

#include <algorithm>

#include "show/show_list.h"

namespace {

// Shuffled: `listed` in the order of the keys of `o.seed`.
void sortByKey(ShowOrder &o, const std::vector<std::string> &paths) {
  for (size_t i = 0; i < o.keys.size(); i++)
    o.keys[i] = ShuffleKey(o.seed, paths[i]);
  std::sort(o.listed.begin(), o.listed.end(), [&](int a, int b) {
    return o.keys[size_t(a)] < o.keys[size_t(b)];
  });
}

void insertAt(ShowOrder &o, size_t at, int picture) {
  o.listed.insert(o.listed.begin() + long(at), picture);
  if (at <= o.cursor && o.listed.size() > 1)
    o.cursor++;
}

} // namespace

void StartOrder(ShowOrder &o, const std::vector<std::string> &paths,
                bool shuffled, uint64_t seed, uint64_t after) {
  o = {};
  o.shuffled = shuffled;
  o.seed = seed;
  for (size_t i = 0; i < paths.size(); i++)
    o.listed.push_back(int(i));
  o.keys.assign(paths.size(), 0);
  o.seenInRound.assign(paths.size(), false);
  o.failed.assign(paths.size(), false);
  if (!shuffled)
    return;
  sortByKey(o, paths);
  while (o.cursor < o.listed.size() &&
         o.keys[size_t(o.listed[o.cursor])] <= after)
    o.cursor++;
  if (o.cursor == o.listed.size())
    o.cursor = 0;
}

void AddToOrder(ShowOrder &o, int picture, const std::string &path, int after,
                bool thisRound) {
  size_t p = size_t(picture);
  o.keys.resize(std::max(o.keys.size(), p + 1), 0);
  o.seenInRound.resize(o.keys.size(), false);
  o.failed.resize(o.keys.size(), false);
  if (o.shuffled) {
    o.keys[p] = ShuffleKey(o.seed, path);
    auto at = std::lower_bound(
        o.listed.begin(), o.listed.end(), o.keys[p],
        [&](int q, uint64_t key) { return o.keys[size_t(q)] < key; });
    insertAt(o, size_t(at - o.listed.begin()), picture);
  } else {
    // Pictures join one after the other as a walk finds them: looked for
    // where the last one joined first, then at the end, then everywhere.
    size_t n = o.listed.size(), at = 0;
    if (o.lastAdded < n && o.listed[o.lastAdded] == after)
      at = o.lastAdded + 1;
    else if (n > 0 && o.listed[n - 1] == after)
      at = n;
    else if (after >= 0)
      at = size_t(std::find(o.listed.begin(), o.listed.end(), after) -
                  o.listed.begin()) +
           1;
    insertAt(o, std::min(at, n), picture);
    o.lastAdded = std::min(at, n);
  }
  // Not this round: counted as seen in it already, so it comes in the next.
  if (o.shuffled && !thisRound)
    o.seenInRound[p] = true;
}

int OrderTarget(const ShowOrder &o) {
  size_t n = o.listed.size();
  for (size_t i = 0; i < n; i++) {
    int p = o.listed[(o.cursor + i) % n];
    if (!o.seenInRound[size_t(p)] && !o.failed[size_t(p)])
      return p;
  }
  return -1;
}

void OrderPassed(ShowOrder &o, const std::vector<std::string> &paths,
                 uint64_t random) {
  size_t n = o.listed.size();
  int target = OrderTarget(o);
  if (target < 0)
    return;
  while (o.listed[o.cursor % n] != target)
    o.cursor = (o.cursor + 1) % n;
  o.seenInRound[size_t(target)] = true;
  o.cursor = (o.cursor + 1) % n;
  size_t left = 0;
  for (int p : o.listed)
    left += !o.seenInRound[size_t(p)] && !o.failed[size_t(p)];
  if (left > 0)
    return;
  o.seenInRound.assign(o.seenInRound.size(), false);
  o.newRound = true;
  if (o.shuffled) {
    o.seed = random;
    sortByKey(o, paths);
    o.cursor = 0;
  }
}
