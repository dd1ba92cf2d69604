#include "platform/Shell.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/Paths.h"

namespace tavik::platform {
namespace {

// The module's own platform programs: under a sysroot they are stubs.
constexpr std::string_view kPlatformPrograms[] = {"reboot", "insmod", "rmmod",
                                                  "lsmod", "ifconfig", "ifup"};
// Directories whose programs are plain host tools: they run from the host.
constexpr std::string_view kHostToolDirs[] = {"/bin/", "/usr/bin/", "/sbin/",
                                              "/usr/sbin/"};

bool startsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

std::string_view baseName(std::string_view word) {
  size_t slash = word.rfind('/');
  return slash == std::string_view::npos ? word : word.substr(slash + 1);
}

bool isPlatformProgram(std::string_view word) {
  // "reboot", "/sbin/reboot", "/usr/sbin/ifconfig": with or without a directory.
  if (word.find('/') != std::string_view::npos && word.front() != '/') return false;
  for (auto p : kPlatformPrograms) {
    if (baseName(word) == p) return true;
  }
  return false;
}

bool isHostTool(std::string_view word) {
  for (auto dir : kHostToolDirs) {
    if (startsWith(word, dir) && word.find('/', dir.size()) == std::string_view::npos) {
      return true;
    }
  }
  return false;
}

// Maps one blank-separated word. Redirections ("2>/dev/null", ">/tmp/x")
// and quotes around a path keep their punctuation.
std::string mapWord(std::string_view word, bool commandPosition, const std::string& root) {
  size_t lead = 0;
  while (lead < word.size() && (word[lead] == '>' || word[lead] == '<' || word[lead] == '&' ||
                                word[lead] == '"' || word[lead] == '\'' ||
                                (word[lead] >= '0' && word[lead] <= '9' && lead + 1 < word.size() &&
                                 (word[lead + 1] == '>' || word[lead + 1] == '<')))) {
    ++lead;
  }
  std::string_view prefix = word.substr(0, lead);
  std::string_view body = word.substr(lead);
  if (commandPosition && lead == 0 && isPlatformProgram(body)) {
    return root + "/sbin/" + std::string(baseName(body));
  }
  if (body.empty() || body.front() != '/') return std::string(word);
  if (commandPosition && lead == 0 && isHostTool(body)) return std::string(word);
  if (startsWith(body, root + "/")) return std::string(word);  // already mapped
  return std::string(prefix) + root + std::string(body);
}

}  // namespace

std::string mapCommand(const std::string& command) {
  std::string root = sysroot();
  if (root.empty()) return command;

  std::string out;
  out.reserve(command.size() + 64);
  bool commandPosition = true;
  size_t i = 0;
  while (i < command.size()) {
    char c = command[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      out += c;
      ++i;
      continue;
    }
    if (c == ';' || c == '|' || c == '&' || c == '(' || c == ')') {
      out += c;
      ++i;
      // "2>&1" style is handled inside words; a bare separator starts a new command.
      commandPosition = true;
      continue;
    }
    size_t end = i;
    while (end < command.size() && command[end] != ' ' && command[end] != '\t' &&
           command[end] != '\n' && command[end] != ';' && command[end] != '|' &&
           command[end] != '(' && command[end] != ')' &&
           !(command[end] == '&' && (end == i || command[end - 1] != '>'))) {
      ++end;
    }
    std::string_view word(command.data() + i, end - i);
    out += mapWord(word, commandPosition, root);
    // An assignment or a redirection does not take the command position.
    bool redirection = !word.empty() && (word.front() == '>' || word.front() == '<' ||
                                         (word.size() > 1 && word[1] == '>'));
    if (!redirection && word.find('=') == std::string_view::npos) commandPosition = false;
    i = end;
  }
  return out;
}

int runCommand(const std::string& command) {
  return std::system(mapCommand(command).c_str());
}

int runCommandRead(const std::string& command, std::string* output, size_t maxBytes) {
  if (output != nullptr) output->clear();
  FILE* pipe = ::popen(mapCommand(command).c_str(), "r");
  if (pipe == nullptr) return -1;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
    if (output != nullptr && output->size() < maxBytes) {
      output->append(chunk, std::min(n, maxBytes - output->size()));
    }
  }
  return ::pclose(pipe);
}

}  // namespace tavik::platform
