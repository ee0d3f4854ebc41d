// When the screen is off: `--screen-off 23:00-07:00,12:30-13:00`, ranges of
// the local wall clock's time of day (HH:MM or HH:MM:SS), a range whose end
// comes before its start crossing midnight. Decided afresh from the time of
// day each time it is asked, so that a jump of the clock (NTP setting a
// Raspberry Pi's clock after a boot without a network) or a change of time
// zone counts at once, never for a day.
#pragma once

#include <string>
#include <vector>

struct OffRange {
  int from, to; // seconds since midnight; off in [from, to)
};
using ScreenSchedule = std::vector<OffRange>;

constexpr int kSecondsADay = 24 * 60 * 60;

// Reads the option's value; false where it is not one.
bool ReadScreenSchedule(const char *value, ScreenSchedule &schedule);

// Whether the screen is off at `second` since midnight.
bool ScreenOffAt(const ScreenSchedule &schedule, int second);

// Seconds from `second` since midnight to the next change from on to off
// or back (at most a day).
int SecondsToNextChange(const ScreenSchedule &schedule, int second);

// The local wall clock's second of the day, now (the time zone read again).
int SecondOfTheDayNow();
