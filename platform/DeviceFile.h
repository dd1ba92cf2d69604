// One open device of the module (/dev/usblp0, /dev/gpio, /dev/usbtavik,
// /dev/mtd3, ...). Public face of platform/.
//
// Under a sysroot the device node may be a Unix-domain socket served by a
// simulator; otherwise it is a real device node. Callers cannot tell the
// two apart. Results follow the system calls: -1 with errno on failure.
//
// Noncopyable owner of the descriptor or socket, closed in the destructor.
// Calls on one object are serialised internally; for concurrent callers on
// one device (one waits in poll while another reads) use attach().
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace tavik::platform {

class DeviceFile {
 public:
  DeviceFile() = default;
  ~DeviceFile();
  DeviceFile(const DeviceFile&) = delete;
  DeviceFile& operator=(const DeviceFile&) = delete;

  // Opens a module path (mapped under the sysroot) with open(2) flags.
  // Returns 0, or -1 with errno (ENODEV while a simulated printer is unplugged).
  int open(const std::string& modulePath, int flags);

  // Joins this (closed) object to the file that `other` has open, so that
  // both can be used at once. Returns 0 or -1 with errno.
  int attach(const DeviceFile& other);

  bool isOpen() const;

  // ioctl with an in/out buffer of `size` bytes (none when size is 0).
  // Returns the ioctl's result, -1 with errno on failure.
  int ioctl(unsigned long request, void* buffer, size_t size);
  // ioctl without an argument.
  int ioctl(unsigned long request) { return ioctl(request, nullptr, 0); }

  ssize_t read(void* buffer, size_t size);
  ssize_t write(const void* data, size_t size);
  off_t seek(off_t offset, int whence);
  // Returns the revents, 0 on time-out, -1 with errno on failure.
  int poll(short events, int timeoutMs);

  // Closes; returns the close result (0 when already closed).
  int close();

 private:
  enum class Transport { kNone, kDescriptor, kSocket };

  // One request/reply exchange on the device socket; -1 with errno when the
  // simulator is gone.
  int64_t exchange(uint32_t op, uint32_t arg, const void* data, size_t size,
                   void* out, size_t outSize, size_t* outLen);

  mutable std::mutex mutex_;  // serialises use of the descriptor
  Transport transport_ = Transport::kNone;  // guarded by mutex_
  int fd_ = -1;                             // guarded by mutex_
  uint32_t handle_ = 0;                     // socket transport: the simulator's handle
  int flags_ = 0;
};

}  // namespace tavik::platform
