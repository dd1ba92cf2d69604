#include "config/UserAccounts.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "config/FlashFile.h"
#include "platform/Paths.h"

namespace tavik {

namespace {

// The file holds at most this many lines worth reading, each of at most
// this many characters (line feed included).
constexpr int kMaxLines = UserList::kMaxEntries;
constexpr size_t kMaxLineLength = 255;

// Owns one stdio stream.
class File {
 public:
  explicit File(FILE* f) : f_(f) {}
  ~File() {
    if (f_ != nullptr) std::fclose(f_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  FILE* get() const { return f_; }

 private:
  FILE* f_;
};

// Reads the next line, line feed included, into `line`. A line longer
// than kMaxLineLength is consumed whole and flagged in `tooLong`, so its
// tail is never taken for a line of its own. False at end of file.
bool nextLine(FILE* f, std::string* line, bool* tooLong) {
  line->clear();
  *tooLong = false;
  int c;
  while ((c = std::getc(f)) != EOF) {
    if (line->size() < kMaxLineLength) {
      line->push_back(static_cast<char>(c));
    } else {
      *tooLong = true;
    }
    if (c == '\n') break;
  }
  return !line->empty() || *tooLong;
}

// Appends the account of one file line to `list`, or skips the line when
// it is not "name:digest" with both parts fitting their fields.
void parseLine(std::string_view line, UserList* list) {
  if (line.find('\0') != std::string_view::npos) return;
  auto colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return;
  if (line.back() == '\n') line.remove_suffix(1);
  std::string_view name = line.substr(0, colon);
  std::string_view digest = line.substr(colon + 1);
  if (name.size() >= sizeof(UserEntry::name) || digest.size() >= sizeof(UserEntry::digest)) return;
  if (list->count >= UserList::kMaxEntries) return;
  UserEntry& e = list->entries[list->count++];
  std::memset(&e, 0, sizeof e);
  std::memcpy(e.name, name.data(), name.size());
  std::memcpy(e.digest, digest.data(), digest.size());
}

std::string_view fieldText(const char* field, size_t size) {
  return std::string_view(field, strnlen(field, size));
}

// Index of the first entry named `name`, or -1.
int findEntry(const UserList& list, std::string_view name) {
  int count = list.count < 0 ? 0 : std::min(list.count, UserList::kMaxEntries);
  for (int i = 0; i < count; ++i) {
    if (fieldText(list.entries[i].name, sizeof list.entries[i].name) == name) return i;
  }
  return -1;
}

void setDigest(UserEntry* e, const std::string& digest) {
  std::memset(e->digest, 0, sizeof e->digest);
  std::memcpy(e->digest, digest.data(), std::min(digest.size(), sizeof e->digest - 1));
}

bool longerThan(const char* text, size_t limit) { return strnlen(text, limit + 1) > limit; }

}  // namespace

std::string UserAccounts::passwordDigest(const char* password) {
  unsigned char phrase[128];
  std::memset(phrase, 0, sizeof phrase);
  std::snprintf(reinterpret_cast<char*>(phrase), sizeof phrase,
                "%s QuIlL gAtEs KeYpHrAsE 5173926480157392648015739264801573",
                password != nullptr ? password : "");
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdLength = 0;
  // The zero bytes after the phrase are part of the digest.
  if (EVP_Digest(phrase, sizeof phrase, md, &mdLength, EVP_md5(), nullptr) != 1 || mdLength != 16) {
    return {};
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned int i = 0; i < mdLength; ++i) {
    hex.push_back(kHex[md[i] >> 4]);
    hex.push_back(kHex[md[i] & 0x0F]);
  }
  return hex;
}

int UserAccounts::readList(UserList* out) {
  if (out == nullptr) return -1;
  std::lock_guard<std::mutex> guard(store_.fileLock());
  return readListLocked(out);
}

int UserAccounts::writeList(const UserList& list) {
  std::lock_guard<std::mutex> guard(store_.fileLock());
  return writeListLocked(list);
}

int UserAccounts::readListLocked(UserList* out) {
  const std::string path = platform::hostPath(ConfigStore::kUserFile);
  File f(std::fopen(path.c_str(), "rb"));
  if (f.get() == nullptr) {
    if (errno != ENOENT && errno != ENOTDIR) return -1;
    // First start or after a reset: the administrator with the factory
    // password.
    std::memset(out->entries, 0, sizeof out->entries[0]);
    out->count = 1;
    std::strcpy(out->entries[0].name, kAdminName);
    setDigest(&out->entries[0], passwordDigest(kDefaultPassword));
    return writeListLocked(*out);
  }
  out->count = 0;
  std::string line;
  bool tooLong = false;
  for (int n = 0; n < kMaxLines && nextLine(f.get(), &line, &tooLong); ++n) {
    if (!tooLong) parseLine(line, out);
  }
  return std::ferror(f.get()) ? -1 : 0;
}

int UserAccounts::writeListLocked(const UserList& list) {
  std::string text;
  int count = list.count < 0 ? 0 : std::min(list.count, UserList::kMaxEntries);
  for (int i = 0; i < count; ++i) {
    const UserEntry& e = list.entries[i];
    text.append(fieldText(e.name, sizeof e.name));
    text.push_back(':');
    text.append(fieldText(e.digest, sizeof e.digest));
    text.push_back('\n');
  }
  return flash::replaceFile(platform::hostPath(ConfigStore::kUserFile), text.data(), text.size());
}

int UserAccounts::verify(const char* name, const char* password) {
  if (name == nullptr || password == nullptr) return -1;
  if (longerThan(name, kMaxName) || longerThan(password, kMaxPassword)) return -2;
  auto list = std::make_unique<UserList>();
  std::lock_guard<std::mutex> guard(store_.fileLock());
  if (readListLocked(list.get()) != 0) return -3;
  int i = findEntry(*list, name);
  if (i < 0) return -4;
  std::string digest = passwordDigest(password);
  if (digest.empty()) return -1;
  return fieldText(list->entries[i].digest, sizeof list->entries[i].digest) == digest ? 0 : -1;
}

int UserAccounts::add(const char* name, const char* password) {
  if (name == nullptr || password == nullptr || *name == '\0') return -1;
  if (longerThan(name, kMaxName) || longerThan(password, kMaxPassword)) return -2;
  // The file keeps one "name:digest" line per account: such a name could
  // not be read back as itself.
  if (std::strpbrk(name, ":\r\n") != nullptr) return -1;
  std::string digest = passwordDigest(password);
  if (digest.empty()) return -1;
  auto list = std::make_unique<UserList>();
  std::lock_guard<std::mutex> guard(store_.fileLock());
  if (readListLocked(list.get()) != 0) return -3;
  if (findEntry(*list, name) >= 0) return -4;
  if (list->count >= UserList::kMaxEntries) return -2;
  UserEntry& e = list->entries[list->count++];
  std::memset(&e, 0, sizeof e);
  std::memcpy(e.name, name, std::strlen(name));
  setDigest(&e, digest);
  return writeListLocked(*list);
}

int UserAccounts::remove(const char* name) {
  if (name == nullptr) return -1;
  if (longerThan(name, kMaxName)) return -2;
  auto list = std::make_unique<UserList>();
  std::lock_guard<std::mutex> guard(store_.fileLock());
  if (readListLocked(list.get()) != 0) return -3;
  int i = findEntry(*list, name);
  if (i < 0) return -4;
  std::memmove(&list->entries[i], &list->entries[i + 1],
               sizeof(UserEntry) * static_cast<size_t>(list->count - i - 1));
  --list->count;
  return writeListLocked(*list);
}

int UserAccounts::changePassword(const char* name, const char* newPassword) {
  if (name == nullptr || newPassword == nullptr) return -1;
  if (longerThan(name, kMaxName) || longerThan(newPassword, kMaxPassword)) return -2;
  std::string digest = passwordDigest(newPassword);
  if (digest.empty()) return -1;
  auto list = std::make_unique<UserList>();
  std::lock_guard<std::mutex> guard(store_.fileLock());
  if (readListLocked(list.get()) != 0) return -3;
  int i = findEntry(*list, name);
  if (i < 0) return -4;
  setDigest(&list->entries[i], digest);
  return writeListLocked(*list);
}

int UserAccounts::listNames(char* buffer, int size) {
  if (buffer == nullptr || size < 1) return -1;
  auto list = std::make_unique<UserList>();
  if (readList(list.get()) != 0) return -2;
  std::memset(buffer, 0, static_cast<size_t>(size));
  size_t used = 0;
  for (int i = 0; i < list->count; ++i) {
    std::string_view name = fieldText(list->entries[i].name, sizeof list->entries[i].name);
    if (used + name.size() + 2 >= static_cast<size_t>(size)) break;
    std::memcpy(buffer + used, name.data(), name.size());
    used += name.size();
    buffer[used++] = '\n';
  }
  return 0;
}

bool UserAccounts::isAdministrator(const char* name, const char* password) {
  return name != nullptr && std::strcmp(name, kAdminName) == 0 && verify(name, password) == 0;
}

}  // namespace tavik
