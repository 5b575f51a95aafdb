#ifndef SENTREL_LANG_OPTIONS_H_
#define SENTREL_LANG_OPTIONS_H_

#include <cstdint>
#include <string>

namespace sentrel {

class SettingsStore;

// Where the settings live in the per-user store.
inline constexpr char kSettingsKey[] = "Brenmoor/Sentrel";
inline constexpr char kLegacyKey[] = "Corvane/Sentrel";
inline constexpr char kLegacyParentKey[] = "Corvane";

// The program-wide settings. Only `Language` is used by the console program;
// the others are kept so that a shared settings store round-trips.
struct Options {
  bool SavePosition = true;
  bool StartMinimized = false;
  bool OneInstance = false;
  bool TrayMinimize = true;
  bool SingleRestore = false;
  bool MenuImages = true;
  int32_t Interval = 1;
  bool FlatButtons = true;
  bool ConfDelete = true;
  bool ConfSave = true;
  bool ConfQuit = false;
  bool ShowToolbar = true;
  bool ShowStatusBar = true;
  std::string Language = "English.lng";
};

// Moves settings from the legacy key, then fills `options` from the settings
// key. Values that are missing or of the wrong type keep their defaults. The
// legacy key is deleted only once the settings key holds its settings;
// until then they are read from where they are.
void LoadOptions(SettingsStore& store, Options& options);

}  // namespace sentrel

#endif  // SENTREL_LANG_OPTIONS_H_
