// The order a show goes through its pictures, round after round, each
// picture seen once a round: in the list's order (a round starting where
// the first one did, and going round), or shuffled anew each round (in the
// order of ShuffleKey, show_list.h). Pictures join while it goes on, at
// their place: found by the launcher, in the round on; new ones, shuffled,
// from the next round.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ShowOrder {
  bool shuffled = false;
  uint64_t seed = 0;             // the round's, shuffled
  std::vector<int> listed;       // the pictures in the round's order
  std::vector<uint64_t> keys;    // shuffled: each picture's key, by number
  std::vector<bool> seenInRound; // by number
  std::vector<bool> failed;      // by number: never shown
  size_t cursor = 0;             // where in `listed` the round goes on
  size_t lastAdded = 0;          // where in `listed` the last one joined
  bool newRound = false;         // a round began (shuffled: tell its seed)
};

// Starts with pictures 0 .. count - 1 of `paths`: listed, in that order,
// the round starting with the first; shuffled, in the order of `seed`, the
// round starting after the key `after`.
void StartOrder(ShowOrder &o, const std::vector<std::string> &paths,
                bool shuffled, uint64_t seed, uint64_t after);

// Adds picture number `picture` (its path `path`), listed right after
// picture `after` (-1: first); shuffled, at its key's place, joining the
// round on only where `thisRound`.
void AddToOrder(ShowOrder &o, int picture, const std::string &path, int after,
                bool thisRound);

// The next picture to be seen in this round, or -1 (none can be shown).
int OrderTarget(const ShowOrder &o);

// The target has been seen (or failed): the round goes on past it, and a
// new one starts after the last (shuffled: its seed from `random`).
void OrderPassed(ShowOrder &o, const std::vector<std::string> &paths,
                 uint64_t random);

// The pictures to come, in order, from the target on, at most `count`,
// leaving out those `skip` says: this round's, then (listed) the next
// round's; shuffled, the next round's order is not known before it starts.
template <typename Skip>
std::vector<int> OrderAhead(const ShowOrder &o, size_t count, Skip skip) {
  std::vector<int> ahead;
  size_t n = o.listed.size();
  for (int pass = 0; pass < (o.shuffled ? 1 : 2); pass++)
    for (size_t i = 0; i < n && ahead.size() < count; i++) {
      int p = o.listed[(o.cursor + i) % n];
      if (o.seenInRound[size_t(p)] == (pass == 1) && !o.failed[size_t(p)] &&
          !skip(p))
        ahead.push_back(p);
    }
  return ahead;
}
