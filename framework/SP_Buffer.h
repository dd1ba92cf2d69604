// A growable byte buffer over one libevent evbuffer: the session's input,
// the messages' contents and the decoders' storage. Not thread-safe; one
// thread uses a buffer at a time. Public face of framework/.
#pragma once

struct evbuffer;

class SP_Buffer {
 public:
  SP_Buffer();
  ~SP_Buffer();
  SP_Buffer(const SP_Buffer&) = delete;
  SP_Buffer& operator=(const SP_Buffer&) = delete;

  // Appends `length` bytes; a length below 1 appends up to the terminating
  // zero byte of `data`. Returns 0, or -1 when storage cannot grow.
  int append(const void* data, int length = 0);
  // Appends a copy of `other`'s content (unchanged); no-op when empty.
  int append(const SP_Buffer* other);
  // A format without '%' is appended verbatim; otherwise printf-formatted.
  int appendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Removes the first n bytes (all when n exceeds the size).
  void drain(int n);
  void clear();

  // Content start followed by a zero byte that is not part of the content.
  // An empty buffer gives an empty string. Valid until the next change.
  const char* bytes() const;
  // Content start without terminator; null when there is no storage.
  const void* rawBytes() const;
  int size() const;

  // A new buffer holding this one's content; this one is left empty. No
  // bytes are copied. The caller owns the result.
  SP_Buffer* detach();

  // Removes the first line and returns it as a malloc'ed zero-terminated
  // string (caller frees). CR, LF, CR LF and LF CR end a line; the ending
  // is dropped. Null, removing nothing, when no CR or LF is present.
  char* takeLine();

  // Pointer into the content at the first occurrence of `key`, or null.
  const void* search(const void* key, int length) const;

  // Cuts the content to its first n bytes when n is below the size and
  // returns 0; otherwise -1 and nothing changes.
  int shrinkTo(int n);
  // Makes room for the content to reach n bytes without reallocating.
  void ensureRoom(int n);
  // Moves up to arraySize - 1 bytes from the front into `array`, ends them
  // with a zero byte and returns the number moved.
  int moveInto(void* array, int arraySize);

  // The underlying evbuffer (borrowed), for channels that read into it.
  struct evbuffer* evbuffer() const { return buffer_; }

 private:
  mutable struct evbuffer* buffer_;  // owned; bytes() may rebuild it as one chain
};
