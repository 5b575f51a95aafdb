#ifndef SENTREL_LANG_LANG_H_
#define SENTREL_LANG_LANG_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/profile_reader.h"

namespace sentrel {

// Numbers of the texts the program shows.
enum LangText : int {
  kLngCantLoad = 0,
  kLngNotifyTitle = 1,
  kLngCopy = 13,
  kLngMove = 14,
  kLngRename = 15,
  kLngDelete = 16,
  kLngCreateList = 17,
  kLngExecute = 18,
  kLngPopup = 19,
  kLngSound = 20,
  kLngFileOp = 21,
  kLngKillApp = 49,
  kLngLoaded = 50,
  kLngStarted = 51,
};

// The numbered table of user-visible texts: entry i has a fixed key and a
// built-in English text that a language file may replace. Read-only once
// loaded, and shared by every thread.
class AdvStringList {
 public:
  // The built-in table.
  AdvStringList();
  // A table made of alternating texts and keys.
  explicit AdvStringList(std::vector<std::string> text_key_pairs);

  int Count() const { return static_cast<int>(entries_.size() / 2); }
  const std::string& KeyAt(int index) const { return entries_[2 * index + 1]; }
  void SetTextAt(int index, std::string text) { entries_[2 * index] = std::move(text); }

  // The text of entry `index`; empty outside the table.
  std::string TextAt(int index) const;
  // TextAt for the console; the console uses the locale's character set, so
  // no conversion is needed.
  std::string OemTextAt(int index) const { return TextAt(index); }

 private:
  std::vector<std::string> entries_;
};

// The holder of the language file and of its general values.
class Lang {
 public:
  // `lang_dir` is the folder holding the language files ("Lang/" beside the
  // program); `file_name` the file to use in it.
  Lang(std::string lang_dir, const std::string& file_name);

  void Open(const std::string& file_name);
  // Replaces each text of the table by the file's value for its key in
  // `section`; keys the file does not define keep their text.
  void LoadStrings(AdvStringList& table, const std::string& section);

  const std::string& HelpFile() const { return help_file_; }
  const std::string& NationalLangName() const { return national_lang_name_; }
  const std::string& PopupFile() const { return popup_file_; }

 private:
  std::string lang_dir_;
  std::unique_ptr<ProfileReader> reader_;
  std::string help_file_ = "help-en.chm";
  std::string national_lang_name_ = "English";
  std::string popup_file_ = "popup-en.txt";
};

// The program's language table. Built once at start and never destroyed,
// since item threads that are still finishing may read it while the process
// ends. Before InstallStrings it holds the built-in texts.
const AdvStringList& Strings();
void InstallStrings(AdvStringList table);

}  // namespace sentrel

#endif  // SENTREL_LANG_LANG_H_
