#include "picture/bytes.h"

#include <cstring>
#include <unistd.h>

bool ByteSource::read(uint64_t offset, void *out, size_t n) const {
  if (offset > size || n > size - offset)
    return false;
  if (data != nullptr) {
    std::memcpy(out, data + offset, n);
    return true;
  }
  return pread(fd, out, n, off_t(offset)) == ssize_t(n);
}

const unsigned char *ByteSource::at(uint64_t offset, uint64_t n) const {
  if (data == nullptr || offset > size || n > size - offset)
    return nullptr;
  return data + offset;
}
