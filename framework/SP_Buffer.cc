#include "framework/SP_Buffer.h"

#include <event2/buffer.h>

#include <sys/uio.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

SP_Buffer::SP_Buffer() : buffer_(evbuffer_new()) {}

SP_Buffer::~SP_Buffer() {
  if (buffer_ != nullptr) evbuffer_free(buffer_);
}

int SP_Buffer::append(const void* data, int length) {
  if (data == nullptr) return length > 0 ? -1 : 0;
  size_t len = length > 0 ? static_cast<size_t>(length) : std::strlen(static_cast<const char*>(data));
  if (len == 0) return 0;
  return evbuffer_add(buffer_, data, len);
}

int SP_Buffer::append(const SP_Buffer* other) {
  if (other == nullptr || other->size() == 0) return 0;
  if (other == this) {
    // The source would move while the buffer grows: copy it out first.
    std::string copy(static_cast<const char*>(rawBytes()), static_cast<size_t>(size()));
    return evbuffer_add(buffer_, copy.data(), copy.size());
  }
  return evbuffer_add(buffer_, other->rawBytes(), evbuffer_get_length(other->buffer_));
}

int SP_Buffer::appendFormat(const char* format, ...) {
  if (format == nullptr) return -1;
  if (std::strchr(format, '%') == nullptr) return append(format, 0);
  va_list args;
  va_start(args, format);
  int n = evbuffer_add_vprintf(buffer_, format, args);
  va_end(args);
  return n < 0 ? -1 : 0;
}

void SP_Buffer::drain(int n) {
  if (n <= 0) return;
  evbuffer_drain(buffer_, static_cast<size_t>(n));
}

void SP_Buffer::clear() { drain(size()); }

const char* SP_Buffer::bytes() const {
  size_t len = evbuffer_get_length(buffer_);
  if (len == 0) return "";
  unsigned char* start = evbuffer_pullup(buffer_, -1);
  struct evbuffer_iovec room;
  if (evbuffer_reserve_space(buffer_, 1, &room, 1) == 1 && room.iov_base == start + len) {
    // Reserved but uncommitted: the zero stays outside the content.
    static_cast<char*>(room.iov_base)[0] = '\0';
    return reinterpret_cast<const char*>(start);
  }
  // The spare byte landed in another chain: rebuild as one chain with room
  // for the terminator.
  struct evbuffer* fresh = evbuffer_new();
  if (fresh == nullptr || evbuffer_expand(fresh, len + 1) != 0 || evbuffer_add(fresh, start, len) != 0) {
    if (fresh != nullptr) evbuffer_free(fresh);
    return nullptr;
  }
  evbuffer_free(buffer_);
  buffer_ = fresh;
  start = evbuffer_pullup(buffer_, -1);
  if (evbuffer_reserve_space(buffer_, 1, &room, 1) != 1 || room.iov_base != start + len) return nullptr;
  static_cast<char*>(room.iov_base)[0] = '\0';
  return reinterpret_cast<const char*>(start);
}

const void* SP_Buffer::rawBytes() const { return evbuffer_pullup(buffer_, -1); }

int SP_Buffer::size() const { return static_cast<int>(evbuffer_get_length(buffer_)); }

SP_Buffer* SP_Buffer::detach() {
  SP_Buffer* other = new SP_Buffer();
  std::swap(other->buffer_, buffer_);
  return other;
}

char* SP_Buffer::takeLine() {
  size_t len = evbuffer_get_length(buffer_);
  if (len == 0) return nullptr;
  const unsigned char* data = evbuffer_pullup(buffer_, -1);
  size_t pos = 0;
  while (pos < len && data[pos] != '\r' && data[pos] != '\n') ++pos;
  if (pos == len) return nullptr;
  size_t endLen = 1;
  if (pos + 1 < len && (data[pos + 1] == '\r' || data[pos + 1] == '\n') && data[pos + 1] != data[pos]) {
    endLen = 2;
  }
  char* line = static_cast<char*>(std::malloc(pos + 1));
  if (line == nullptr) return nullptr;
  std::memcpy(line, data, pos);
  line[pos] = '\0';
  evbuffer_drain(buffer_, pos + endLen);
  return line;
}

const void* SP_Buffer::search(const void* key, int length) const {
  size_t len = evbuffer_get_length(buffer_);
  if (key == nullptr || length <= 0 || static_cast<size_t>(length) > len) return nullptr;
  struct evbuffer_ptr at = evbuffer_search(buffer_, static_cast<const char*>(key), length, nullptr);
  if (at.pos < 0) return nullptr;
  const unsigned char* start = evbuffer_pullup(buffer_, -1);
  return start + at.pos;
}

int SP_Buffer::shrinkTo(int n) {
  if (n < 0 || n >= size()) return -1;
  struct evbuffer* kept = evbuffer_new();
  if (kept == nullptr) return -1;
  if (evbuffer_remove_buffer(buffer_, kept, static_cast<size_t>(n)) != n) {
    evbuffer_free(kept);
    return -1;
  }
  evbuffer_free(buffer_);
  buffer_ = kept;
  return 0;
}

void SP_Buffer::ensureRoom(int n) {
  int have = size();
  if (n > have) evbuffer_expand(buffer_, static_cast<size_t>(n - have));
}

int SP_Buffer::moveInto(void* array, int arraySize) {
  if (array == nullptr || arraySize < 1) return 0;
  int n = evbuffer_remove(buffer_, array, static_cast<size_t>(arraySize - 1));
  if (n < 0) n = 0;
  static_cast<char*>(array)[n] = '\0';
  return n;
}
