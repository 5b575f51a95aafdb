#ifndef SENTREL_CONFIG_LINE_REMARKS_H_
#define SENTREL_CONFIG_LINE_REMARKS_H_

#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// Every key a block may hold and who takes it, gathered from real items and
// actions, so that a line nobody took can be explained: a misspelled key, a
// blank before "=", a key of an action that no "Action=" line opened.
class LineRemarks {
 public:
  enum Owner : unsigned {
    kFileItem = 1u << 0,
    kDirectoryItem = 1u << 1,
    kLoader = 1u << 2,  // read while the blocks are split ("Paused")
    kSwitch = 1u << 3,  // the older form's on/off switches
    kFirstAction = 1u << 4,  // action kind k is kFirstAction << k
  };

  // The keys of `owner`; for an action kind, `caption` names it.
  void Add(unsigned owner, const std::vector<std::string>& keys, const std::string& caption = "");

  // Where a line stood: its item's kind (0 file, 1 directory), and the
  // action whose "Action=" section held it (kind -1: none).
  struct Place {
    int item_kind = 0;
    int action_kind = -1;
    int action_line = 0;
    bool older_format = false;
  };
  // What the line (as read) probably meant; empty for a line that says
  // nothing (blanks only).
  std::string Explain(std::string_view line, const Place& place) const;

  // The known key nearest to `key` in spelling, if near enough to be meant.
  std::string Nearest(std::string_view key) const;

 private:
  struct Key {
    std::string name;
    std::string lowered;
    unsigned owners = 0;
  };
  const Key* Find(std::string_view key) const;
  std::string ActionCaptions(unsigned owners) const;

  std::vector<Key> keys_;
  std::vector<std::string> captions_;  // by action kind
};

}  // namespace sentrel

#endif  // SENTREL_CONFIG_LINE_REMARKS_H_
