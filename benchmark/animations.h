// Bench rows for animated pictures: six animated faces against six still
// ones, and a long, large GIF's memory.
#pragma once

#include <string>

// Markdown rows, `runs` interleaved runs each; empty where a run failed.
std::string AnimationRows(const std::string &viewer, int runs);

// The measures of a cube of moving faces, shared with the clips' rows: from
// 2 to 10 s after the start, the frame rate, the longest frame, the CPU time
// a second and the memory of the viewer and its decoders together (resident,
// and of that what is anonymous or shared: not the files' own pages, which
// are cache); and exec to the first frame. False where the run failed.
struct Faces {
  double firstFrameMs = 0, fps = 0, longestMs = 0, cpuPerSecond = 0;
  long rssKib = 0, anonKib = 0;
  double framesShownPerSecond = 0; // of animations and clips, all faces
};
bool MeasureFaces(const std::string &viewer, const std::string &dir,
                  Faces &out);
// The most resident memory of the viewer and its decoders together (or,
// `anonymous`, of that the anonymous and shared part), sampled every 100 ms
// for `seconds`; -1 where the run failed.
long PeakKib(const std::string &viewer, const std::string &dir, double seconds,
             bool anonymous);
