#ifndef SENTREL_PLATFORM_SETTINGS_STORE_H_
#define SENTREL_PLATFORM_SETTINGS_STORE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace sentrel {

// One stored setting: a 32-bit integer or a text.
struct SettingValue {
  enum class Kind { kDword, kText };
  Kind kind = Kind::kText;
  uint32_t dword = 0;
  std::string text;
};

// The per-user store of program settings, organised as keys (paths written
// with "/", such as "Brenmoor/Sentrel") holding named values and subkeys.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual bool KeyExists(const std::string& key) = 0;
  // Copies `from` with its values and subkeys to `to`, only when `from`
  // exists and `to` does not. `from` stays in place. True when `to` holds
  // the settings afterwards: it was there already, or the copy was written
  // whole and read back; a copy that fails leaves no `to` behind.
  virtual bool MoveKey(const std::string& from, const std::string& to) = 0;
  // Removes the key with everything below it.
  virtual void DeleteKey(const std::string& key) = 0;
  // Removes the key only when it holds no values and no subkeys.
  virtual void DeleteKeyIfEmpty(const std::string& key) = 0;
  // The values of an existing key, by name upper-cased in ASCII (names compare
  // ignoring case, as the registry's do); nothing when the key is missing.
  // Lines that cannot be understood are skipped.
  virtual std::optional<std::map<std::string, SettingValue>> ReadValues(
      const std::string& key) = 0;
};

// The store under `root` (a directory); each key is a directory below it and
// keeps its values in the file "values.reg".
std::unique_ptr<SettingsStore> OpenSettingsStoreAt(const std::string& root);

// The current user's store: $XDG_CONFIG_HOME (default ~/.config).
std::unique_ptr<SettingsStore> OpenUserSettingsStore();

// Parses the text of a values file: one `"Name"=dword:0000000a` or
// `"Name"="text"` per line (with `\\` and `\"` escapes in the texts).
std::map<std::string, SettingValue> ParseSettingValues(const std::string& text);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_SETTINGS_STORE_H_
