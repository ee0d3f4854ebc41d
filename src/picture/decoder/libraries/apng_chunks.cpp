#include "picture/decoder/libraries/apng_chunks.h"

#include <cstring>

#include "picture/bytes.h"

namespace {

constexpr size_t kSignatureBytes = 8;

struct Chunk {
  uint32_t type;
  size_t data, length; // where its data lies
};

// The chunk at `at`; false where the file ends before it does.
bool chunkAt(const unsigned char *file, size_t size, size_t at, Chunk &c) {
  if (at > size || size - at < 12)
    return false;
  c.length = Be32(file + at);
  c.type = Be32(file + at + 4);
  c.data = at + 8;
  return c.length <= size - at - 12;
}

size_t after(const Chunk &c) {
  return c.data + c.length + 4;
}

// A frame's control chunk (fcTL), after its sequence number.
bool readControl(const unsigned char *d, const ApngHead &head, ApngFrame &f) {
  f.width = Be32(d + 4);
  f.height = Be32(d + 8);
  f.x = Be32(d + 12);
  f.y = Be32(d + 16);
  uint32_t numerator = Be16(d + 20), denominator = Be16(d + 22);
  f.delayMs = numerator * 1000 / (denominator == 0 ? 100 : denominator);
  f.dispose = d[24];
  f.blend = d[25];
  return f.width > 0 && f.height > 0 && f.x < head.width && f.y < head.height &&
         f.width <= head.width - f.x && f.height <= head.height - f.y &&
         f.dispose <= 2 && f.blend <= 1;
}

} // namespace

bool ReadApngHead(const unsigned char *file, size_t size, ApngHead &head) {
  head = {};
  if (size < kSignatureBytes || std::memcmp(file, "\x89PNG\r\n\x1a\n", 8))
    return false;
  size_t at = kSignatureBytes;
  Chunk c;
  bool animated = false;
  while (chunkAt(file, size, at, c) && c.type != FourCC("IDAT") &&
         c.type != FourCC("fcTL")) {
    if (c.type == FourCC("IHDR") && c.length == 13) {
      head.ihdr = file + c.data;
      head.width = Be32(file + c.data);
      head.height = Be32(file + c.data + 4);
    } else if (c.type == FourCC("acTL") && c.length == 8) {
      animated = true;
      head.frames = Be32(file + c.data);
      head.plays = Be32(file + c.data + 4);
    } else if (c.type == FourCC("PLTE") || c.type == FourCC("tRNS")) {
      head.shared.push_back({at, after(c) - at});
    }
    at = after(c);
  }
  head.firstChunk = at;
  head.defaultIsFrame = chunkAt(file, size, at, c) && c.type == FourCC("fcTL");
  return animated && head.ihdr != nullptr && head.width > 0 &&
         head.height > 0 && head.frames > 0;
}

bool ReadApngFrame(const unsigned char *file, size_t size, const ApngHead &head,
                   size_t &at, uint32_t &sequence, ApngFrame &frame) {
  frame = {};
  bool inFrame = false;
  Chunk c;
  for (; chunkAt(file, size, at, c); at = after(c)) {
    bool control = c.type == FourCC("fcTL"), data = c.type == FourCC("fdAT");
    if (c.type == FourCC("IEND") || (control && inFrame))
      break;
    // An fdAT may hold no data but its number: the frame's data goes on in
    // the next, as a PNG's IDATs may be empty.
    if ((control && c.length != 26) || (data && c.length < 4))
      return false;
    if (control || data) {
      if (Be32(file + c.data) != sequence)
        return false;
      sequence++;
    }
    if (control) {
      if (!readControl(file + c.data, head, frame))
        return false;
      inFrame = true;
    } else if (inFrame && data && c.length > 4) {
      frame.data.push_back({c.data + 4, c.length - 4});
    } else if (inFrame && c.type == FourCC("IDAT")) {
      frame.data.push_back({c.data, c.length});
    }
  }
  return inFrame && !frame.data.empty();
}

bool ApngKeepsTheRules(const unsigned char *file, size_t size,
                       const ApngHead &head) {
  size_t at = head.firstChunk;
  uint32_t sequence = 0, frames = 0;
  ApngFrame frame;
  while (frames <= head.frames &&
         ReadApngFrame(file, size, head, at, sequence, frame))
    frames++;
  Chunk c;
  if (!chunkAt(file, size, at, c))
    return frames <= head.frames; // cut short: as far as it goes
  // The walk stops at IEND, or where a chunk broke the rules.
  return c.type == FourCC("IEND") && frames == head.frames;
}
