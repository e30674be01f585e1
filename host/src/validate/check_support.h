// What a check has at hand inside its child process: the plug-in freshly
// loaded, a seeded random source, and expectations that fail with a reason.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/channel_layout.h"
#include "plugin/function_table.h"
#include "plugin/plugin_loader.h"

namespace bvhost {

class CheckFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CheckContext {
 public:
  CheckContext(std::string path, std::uint64_t seed) : path_(std::move(path)), random_(seed) {}

  const std::string& path() const { return path_; }
  bool loaded() const { return plugin_ != nullptr; }
  std::mt19937_64& random() { return random_; }

  // Loads on first use; lacks nothing unless allowMissing.
  Plugin& plugin(bool allowMissing = false);
  const EntryPoints& api() { return plugin().api(); }

 private:
  std::string path_;
  std::mt19937_64 random_;
  std::unique_ptr<Plugin> plugin_;
};

void expect(bool condition, const std::string& reason);
void expectSuccess(const char* call, const PluginResult& result);
// The call must be refused with code 1 and exactly this message.
void expectRefused(const std::string& call, const PluginResult& result, const char* message);
void expectState(const EntryPoints& api, std::int32_t state, const std::string& when);

// A text handed out by the plug-in: non-null, NUL-terminated, length without
// the NUL.
void expectWellFormed(const StringRef& text, const std::string& what);

// The "Scan" entry of bv_get_actions; fails the check when there is none.
ActionHandler scanHandler(const EntryPoints& api);

// The channels of a freshly built configuration, which is then freed.
std::vector<ChannelInfo> describedChannels(const EntryPoints& api);

// Reads until a read call delivers nothing; returns the callbacks made.
std::uint64_t drainReads(const EntryPoints& api);

}  // namespace bvhost
