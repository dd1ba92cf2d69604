// The device-socket protocol shared by DeviceFile and the simulators in sim/.
// Public face of platform/ for simulator writers. All integers are
// little-endian. Request: u32 op, u32 arg, u32 len, then len bytes.
// Reply: i64 result, i32 errno, u32 len, then len bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavik::platform {

enum class DeviceOp : uint32_t {
  kOpen = 1,
  kAttach = 2,
  kIoctl = 3,
  kRead = 4,
  kWrite = 5,
  kSeek = 6,
  kPoll = 7,
};

// Largest data block either side accepts in one message; a peer that
// announces more is cut off instead of making us allocate it.
constexpr uint32_t kMaxDeviceMessage = 16u << 20;

struct DeviceRequest {
  uint32_t op = 0;
  uint32_t arg = 0;
  std::vector<uint8_t> data;
};

struct DeviceReply {
  int64_t result = 0;
  int32_t error = 0;
  std::vector<uint8_t> data;
};

// Blocking, whole-message I/O on a connected stream socket. Each returns
// false when the peer closed, the socket failed or a length is too large.
bool sendDeviceRequest(int fd, const DeviceRequest& request);
bool receiveDeviceRequest(int fd, DeviceRequest* request);
bool sendDeviceReply(int fd, const DeviceReply& reply);
bool receiveDeviceReply(int fd, DeviceReply* reply);

// Connects a stream socket to a Unix-domain path; -1 with errno on failure.
int connectUnixSocket(const std::string& hostPath);

}  // namespace tavik::platform
