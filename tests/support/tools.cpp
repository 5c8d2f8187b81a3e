// SPDX-License-Identifier: BSD-3-Clause
#include "support/tools.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

namespace vornek::test {
namespace {

bool Succeeds(const std::string& command) { return std::system(command.c_str()) == 0; }

/// Asks once per program and process: the answer does not change during a run.
std::optional<std::string> Remembered(const std::string& key, std::optional<std::string> (*ask)(const std::string&),
                                      const std::string& argument) {
  static std::mutex mutex;
  static std::map<std::string, std::optional<std::string>> answers;
  {
    const std::lock_guard lock(mutex);
    const auto found = answers.find(key);
    if (found != answers.end()) return found->second;
  }
  std::optional<std::string> answer = ask(argument);  // may ask for another program
  const std::lock_guard lock(mutex);
  return answers.emplace(key, std::move(answer)).first->second;
}

}  // namespace

std::optional<std::string> MissingTool(const std::string& program) {
  return Remembered(program, [](const std::string& name) -> std::optional<std::string> {
    if (Succeeds("command -v '" + name + "' >/dev/null 2>&1")) return std::nullopt;
    return name + " is not installed";
  }, program);
}

std::optional<std::string> MissingMp3Encoder() {
  return Remembered(" mp3", [](const std::string&) -> std::optional<std::string> {
    if (auto missing = MissingTool("ffmpeg")) return missing;
    if (Succeeds("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libmp3lame")) return std::nullopt;
    return std::string("ffmpeg has no MPEG Layer 3 encoder");
  }, "");
}

bool InCi() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

}  // namespace vornek::test
