#include "lang/lang.h"

#include <atomic>

#include "platform/paths.h"

namespace sentrel {
namespace {

const char* const kBuiltIn[] = {
    "Can not load configuration file", "lngCantLoad",
    "Sentrel Notification", "lngNotifyTitle",
    "Program files", "lngPrograms",
    "All files", "lngAllFiles",
    "Microsoft Waveform Audio Files", "lngWaveFiles",
    "Add Directory", "lngAddDir",
    "Add File", "lngAddFile",
    "Directory Properties", "lngDirProp",
    "Copy Directory", "lngCopyDir",
    "File Properties", "lngFileProp",
    "Copy File", "lngCopyFile",
    "Incorrect interval value. Please specify positive nonzero integer.", "lngIntervMsg",
    "Please specify one or more of conditions.", "lngMoreCond",
    "Copy: ", "lngCopy",
    "Move: ", "lngMove",
    "Rename: ", "lngRename",
    "Delete: ", "lngDelete",
    "Create filelist", "lngCreateList",
    "Execute program", "lngExecute",
    "Popup window", "lngPopup",
    "Play sound", "lngSound",
    "File operation", "lngFileOp",
    "Active", "lngActive",
    "Delete item(s) from monitoring list?", "lngDeleteMsg",
    "Can't save configuration file.", "lngCantSave",
    "Load config file...", "lngLoadTitle",
    "Configuration was changed. Do you want to save it?", "lngConfChanged",
    "Error during loading configuration file.", "lngErrorLoading",
    "Save config file as...", "lngSaveAs",
    "Sentrel files", "lngSEFiles",
    "Stopped", "lngStopped",
    "Modified", "lngModified",
    "Import from config file...", "lngImportTitle",
    "Export to config file...", "lngExportTitle",
    "Do you want to exit from Sentrel?", "lngExitMsg",
    "Please select directory:", "lngSelectDir",
    "Can not load HTML Help", "lngCantLoadHH",
    "It seems that HTML Help Viewer is not installed on your system.", "lngGoToMS_1",
    "Do you wish to go to the Microsoft web site to download Help Viewer now?", "lngGoToMS_2",
    "If any file has been &changed", "lngChangeCaption",
    "If no files has been &changed", "lngNoChangeCaption",
    "If &new files has been added", "lngAddCaption",
    "If no &new files has been added", "lngNoAddCaption",
    "If some files has been &deleted", "lngDelCaption",
    "If no files has been &deleted", "lngNoDelCaption",
    "If &anything changed (one of above)", "lngAnyCaption",
    "If no&thing changed (all of above)", "lngNoAnyCaption",
    "Select a file...", "lngSelectFile",
    "No Help topic is associated with this item.", "lngNoPop",
    "Terminate Program", "lngKillApp",
    "Configuration file \"%s\" is loaded.", "lngLoaded",
    "Monitoring started. Press 'X' to exit.", "lngStarted",
};

std::atomic<const AdvStringList*> g_strings{nullptr};

}  // namespace

AdvStringList::AdvStringList() : entries_(std::begin(kBuiltIn), std::end(kBuiltIn)) {}

AdvStringList::AdvStringList(std::vector<std::string> text_key_pairs)
    : entries_(std::move(text_key_pairs)) {
  if (entries_.size() % 2 != 0) entries_.emplace_back();
}

std::string AdvStringList::TextAt(int index) const {
  if (index < 0 || index >= Count()) return std::string();
  return entries_[2 * static_cast<size_t>(index)];
}

Lang::Lang(std::string lang_dir, const std::string& file_name)
    : lang_dir_(std::move(lang_dir)) {
  Open(file_name);
}

void Lang::Open(const std::string& file_name) {
  // Settings written on Windows name the file in any case of letters.
  reader_ = OpenProfile(FindFileIgnoringCase(lang_dir_, file_name));
  help_file_ = reader_->Read("General", "HelpFile", help_file_);
  national_lang_name_ = reader_->Read("General", "NationalLangName", national_lang_name_);
  popup_file_ = reader_->Read("General", "PopupFile", popup_file_);
}

void Lang::LoadStrings(AdvStringList& table, const std::string& section) {
  for (int i = 0; i < table.Count(); ++i) {
    table.SetTextAt(i, reader_->Read(section, table.KeyAt(i), table.TextAt(i)));
  }
}

const AdvStringList& Strings() {
  const AdvStringList* s = g_strings.load(std::memory_order_acquire);
  if (s != nullptr) return *s;
  static const AdvStringList* builtin = new AdvStringList();
  return *builtin;
}

void InstallStrings(AdvStringList table) {
  // Deliberately leaked: see Strings().
  g_strings.store(new AdvStringList(std::move(table)), std::memory_order_release);
}

}  // namespace sentrel
