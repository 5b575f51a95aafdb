#include "shell/search_paths.h"

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "shell/text_util.h"

namespace sentrel {
namespace {

constexpr char kDefaultConfig[] = "default.mon";
constexpr char kLangFolder[] = "Lang";

// `name` inside `folder`; a bare name (relative to the current directory)
// when the folder is unknown, as when the program's own path cannot be read.
std::string Inside(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == kPathSeparator) return folder + name;
  return folder + kPathSeparator + name;
}

bool IsFile(const std::string& path) { return StatTarget(path).type == EntryType::kFile; }

}  // namespace

SearchPlaces InstalledPlaces() {
  SearchPlaces places;
  places.program = DirectoryOf(ProgramPath());
  places.user = UserConfigFolder();
  places.system = SystemConfigFolder();
  places.shared = SharedDataFolder();
  return places;
}

std::vector<std::string> DefaultConfigCandidates(const SearchPlaces& places) {
  std::vector<std::string> out{Inside(places.program, kDefaultConfig)};
  for (const std::string* folder : {&places.user, &places.system, &places.shared}) {
    if (!folder->empty()) out.push_back(Inside(*folder, kDefaultConfig));
  }
  return out;
}

std::string ChooseDefaultConfig(const SearchPlaces& places) {
  const std::vector<std::string> candidates = DefaultConfigCandidates(places);
  for (const std::string& path : candidates) {
    if (IsFile(path)) return path;
  }
  return candidates.front();
}

bool DefaultConfigFound(const SearchPlaces& places) {
  for (const std::string& path : DefaultConfigCandidates(places)) {
    if (IsFile(path)) return true;
  }
  return false;
}

std::vector<std::string> LangFolderCandidates(const SearchPlaces& places) {
  std::vector<std::string> out{Inside(places.program, kLangFolder) + kPathSeparator};
  if (!places.shared.empty()) out.push_back(Inside(places.shared, kLangFolder) + kPathSeparator);
  return out;
}

std::string ChooseLangFolder(const SearchPlaces& places, const std::string& file_name) {
  const std::vector<std::string> folders = LangFolderCandidates(places);
  for (const std::string& folder : folders) {
    if (IsFile(FindFileIgnoringCase(folder, file_name))) return folder;
  }
  return folders.front();
}

}  // namespace sentrel
