#include "launcher/natural_order.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

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

} // namespace

// Each character folded to lower case (shifted above the numbers' places),
// each run of digits as its length without leading zeros (in the digits'
// place among characters) and then its digits.
std::vector<uint64_t> NaturalKey(const std::string &s) {
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
    keyed.push_back({NaturalKey(name), &name});
  std::sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) {
    return a.key != b.key ? a.key < b.key : *a.name < *b.name;
  });
  std::vector<std::string> sorted;
  sorted.reserve(names.size());
  for (Keyed &k : keyed)
    sorted.push_back(std::move(*k.name));
  names = std::move(sorted);
}
