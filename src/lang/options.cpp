#include "lang/options.h"

#include "platform/settings_store.h"

namespace sentrel {

void LoadOptions(SettingsStore& store, Options& options) {
  const char* key = kSettingsKey;
  if (store.KeyExists(kLegacyKey)) {
    if (store.MoveKey(kLegacyKey, kSettingsKey)) {
      store.DeleteKey(kLegacyKey);
      // Other programs of the same maker may still keep keys there.
      store.DeleteKeyIfEmpty(kLegacyParentKey);
    } else {
      // The new place cannot take them (a file in the way, a full disk):
      // the legacy settings stay, to be moved at a later start, and serve
      // meanwhile.
      key = kLegacyKey;
    }
  }
  auto values = store.ReadValues(key);
  if (!values) return;

  auto read_bool = [&](const char* upper_name, bool& field) {
    auto it = values->find(upper_name);
    if (it != values->end() && it->second.kind == SettingValue::Kind::kDword) {
      field = it->second.dword != 0;
    }
  };
  read_bool("SAVEPOSITION", options.SavePosition);
  read_bool("TRAYMINIMIZE", options.TrayMinimize);
  read_bool("MENUIMAGES", options.MenuImages);
  read_bool("STARTMINIMIZED", options.StartMinimized);
  read_bool("SINGLERESTORE", options.SingleRestore);
  read_bool("SHOWTOOLBAR", options.ShowToolbar);
  read_bool("SHOWSTATUSBAR", options.ShowStatusBar);
  read_bool("FLATBUTTONS", options.FlatButtons);
  read_bool("CONFDELETE", options.ConfDelete);
  read_bool("CONFSAVE", options.ConfSave);
  read_bool("CONFQUIT", options.ConfQuit);
  read_bool("ONEINSTANCE", options.OneInstance);

  auto interval = values->find("INTERVAL");
  if (interval != values->end() && interval->second.kind == SettingValue::Kind::kDword) {
    options.Interval = static_cast<int32_t>(interval->second.dword);
  }
  if (options.Interval <= 0 || options.Interval > 10) options.Interval = 1;

  auto language = values->find("LANGUAGE");
  if (language != values->end() && language->second.kind == SettingValue::Kind::kText) {
    // Taken up to its first zero byte, like a stored text value.
    const std::string& t = language->second.text;
    options.Language = t.substr(0, t.find('\0'));
  }
}

}  // namespace sentrel
