#include "launcher/photo_frame/screen_schedule.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

// "HH:MM" or "HH:MM:SS" at `p`, its length in `used`; -1 where it is none.
int timeOfDay(const char *p, int &used) {
  int h = -1, m = -1, s = 0, n = 0, n2 = 0;
  if (std::sscanf(p, "%2d:%2d%n:%2d%n", &h, &m, &n, &s, &n2) < 2)
    return -1;
  used = n2 > 0 ? n2 : n;
  if (h < 0 || h > 24 || m < 0 || m > 59 || s < 0 || s > 59 ||
      (h == 24 && (m > 0 || s > 0)))
    return -1;
  return (h * 60 + m) * 60 + s;
}

} // namespace

bool ReadScreenSchedule(const char *value, ScreenSchedule &schedule) {
  schedule.clear();
  const char *p = value;
  for (;;) {
    int used = 0, from = timeOfDay(p, used);
    if (from < 0 || p[used] != '-')
      return false;
    p += used + 1;
    int to = timeOfDay(p, used);
    if (to < 0 || to % kSecondsADay == from % kSecondsADay)
      return false; // no range, or a whole day: say which by two
    schedule.push_back({from % kSecondsADay, to % kSecondsADay});
    p += used;
    if (*p == '\0')
      return true;
    if (*p++ != ',')
      return false;
  }
}

bool ScreenOffAt(const ScreenSchedule &schedule, int second) {
  for (const OffRange &r : schedule)
    if (r.from < r.to ? second >= r.from && second < r.to
                      : second >= r.from || second < r.to)
      return true;
  return false;
}

int SecondsToNextChange(const ScreenSchedule &schedule, int second) {
  bool off = ScreenOffAt(schedule, second);
  for (int ahead = 1; ahead <= kSecondsADay; ahead++)
    if (ScreenOffAt(schedule, (second + ahead) % kSecondsADay) != off)
      return ahead;
  return kSecondsADay;
}

int SecondOfTheDayNow() {
  tzset(); // a time zone changed since is followed
  time_t now = time(nullptr);
  tm local = {};
  localtime_r(&now, &local);
  return (local.tm_hour * 60 + local.tm_min) * 60 + std::min(local.tm_sec, 59);
}
