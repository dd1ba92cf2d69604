// The module's user accounts in /flash/tavik_user: one "name:digest" line
// per account, the digest being MD5 over the password in a fixed 128-byte
// phrase. Public face of config/: the command service, the OCP login and
// the administrator operations check passwords here.
//
// Every operation takes the ConfigStore's file lock once, for its read of
// the file and, when it changes the list, the write back, so two changes
// at the same moment (two PC tools adding users) both land.
#pragma once

#include <cstdint>
#include <string>

#include "config/ConfigStore.h"

namespace tavik {

struct UserEntry {
  char name[20];    // zero-terminated; operations accept at most 16 characters
  char digest[40];  // 32 upper-case hex digits, zero-terminated
};

struct UserList {
  static constexpr int kMaxEntries = 256;
  int32_t count = 0;
  UserEntry entries[kMaxEntries];
};

class UserAccounts {
 public:
  static constexpr size_t kMaxName = 16;
  static constexpr size_t kMaxPassword = 32;
  static constexpr const char* kAdminName = "admin";
  static constexpr const char* kDefaultPassword = "pelun";

  // Borrows the store for its file lock; does not own it.
  explicit UserAccounts(ConfigStore& store) : store_(store) {}
  UserAccounts(const UserAccounts&) = delete;
  UserAccounts& operator=(const UserAccounts&) = delete;

  // The 32 upper-case hex digits of a password's digest.
  static std::string passwordDigest(const char* password);

  // Fills `out` from the file: 0. A missing file is replaced by the single
  // account "admin"/"pelun", written out, and the write's result returned.
  // -1 when the file exists but cannot be read. At most 256 lines are
  // examined; lines without a name before a colon, over 255 characters,
  // or whose name or digest does not fit the entry are skipped.
  int readList(UserList* out);
  // Writes the whole list: 0, or -1 when the file cannot be replaced.
  int writeList(const UserList& list);

  // 0 match; -1 missing argument or wrong password; -2 name over 16 or
  // password over 32 characters; -3 list unreadable; -4 unknown name.
  int verify(const char* name, const char* password);
  // 0 or the write's result; -1 missing or empty name, missing password,
  // or a name with ':' or a line break; -2 over-long name or password, or
  // the list already holds 256 accounts; -3 list unreadable; -4 name taken.
  int add(const char* name, const char* password);
  // 0 or the write's result; -1 missing name; -2 name over 16 characters;
  // -3 list unreadable; -4 unknown name.
  int remove(const char* name);
  // 0 or the write's result; -1, -2, -3 as for verify; -4 unknown name.
  int changePassword(const char* name, const char* newPassword);
  // Writes each name and a line feed into `buffer`, in file order, while
  // they fit with room for the terminating zero. 0; -1 for a missing buffer
  // or a size below 1; -2 when the list cannot be read.
  int listNames(char* buffer, int size);

  // True when `name` is exactly "admin" and its password verifies.
  bool isAdministrator(const char* name, const char* password);

 private:
  // The file operations proper; the caller holds the store's file lock.
  int readListLocked(UserList* out);
  int writeListLocked(const UserList& list);

  ConfigStore& store_;
};

}  // namespace tavik
