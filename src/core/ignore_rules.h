#ifndef SENTREL_CORE_IGNORE_RULES_H_
#define SENTREL_CORE_IGNORE_RULES_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// The rules of ignore files as version control writes them (".gitignore"):
// one pattern a line, "#" comments, "!" to take a name back, a trailing "/"
// for folders only, a "/" elsewhere anchoring the pattern to the file's own
// folder, "*" and "?" within one name, "**" across folders, "[...]" sets.
// Names compare case-sensitively, as the files are written for systems that
// do. Paths given here are relative to the watched root, with "/" between
// names whatever the platform.
class IgnoreRules {
 public:
  // What the rules say of one path on its own (its folders not asked).
  enum class Verdict { kUnmatched, kIgnored, kTakenBack };

  // Adds the lines of an ignore file that lies in the folder `base` ("" for
  // the root, else "a/b"). A file deeper in the tree speaks after the files
  // of the folders above it, and so overrides them.
  void AddFile(std::string_view base, std::string_view text);
  // Adds lines that hold for the whole tree and speak before every file
  // found in it (an ignore file the user names).
  void AddGlobal(std::string_view text);

  // The last pattern that matches `path`, deepest file first.
  Verdict Match(std::string_view path, bool is_dir) const;
  // Whether `path` is left out: it or one of its folders is ignored and not
  // taken back (a name inside an ignored folder cannot be taken back, since
  // nobody looks into that folder).
  bool Ignores(std::string_view path, bool is_dir) const;

  bool empty() const { return files_.empty() && global_.patterns.empty(); }

 private:
  struct Pattern {
    std::string text;
    bool negative = false;
    bool folders_only = false;
    // No "/" but a trailing one: matches a name at any depth below its base.
    bool any_depth = false;
  };
  struct File {
    std::string base;
    std::vector<Pattern> patterns;
  };
  static void Parse(std::string_view text, std::vector<Pattern>& out);
  static Verdict MatchFile(const File& file, std::string_view path, bool is_dir);

  std::vector<File> files_;
  File global_;
};

// Whether `name` matches the ignore-file pattern `pattern` with "/" kept
// apart: "*", "?" and sets never match a "/", "**" between slashes matches
// any number of folders.
bool WildMatch(std::string_view pattern, std::string_view name);

}  // namespace sentrel

#endif  // SENTREL_CORE_IGNORE_RULES_H_
