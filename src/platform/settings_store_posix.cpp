#include "platform/paths.h"
#include "platform/settings_store.h"

namespace sentrel {

std::unique_ptr<SettingsStore> OpenUserSettingsStore() {
  return OpenSettingsStoreAt(UserConfigHome());
}

}  // namespace sentrel
