#include "actions/macros.h"

#include <charconv>
#include <climits>

#include "actions/date_format.h"
#include "config/param.h"
#include "shell/text_util.h"

namespace sentrel {
namespace {

// Texts are never cut to a fixed size here: a path may be as long as the
// file system allows, and a cut path or list line would name another file.

enum class Macro {
  kFile, kName, kPath, kTime, kSize, kSysDate,
  kAdded, kChanged, kDeleted, kPercent, kOpenGroup, kChr, kNone
};

struct MacroEntry {
  std::string_view name;
  Macro macro;
};

// In this order: the first name that the text after "%" begins with wins.
constexpr MacroEntry kMacroTable[] = {
    {"File", Macro::kFile},       {"Name", Macro::kName},       {"Path", Macro::kPath},
    {"Time", Macro::kTime},       {"Size", Macro::kSize},       {"SysDate", Macro::kSysDate},
    {"Added", Macro::kAdded},     {"Changed", Macro::kChanged}, {"Deleted", Macro::kDeleted},
    {"%", Macro::kPercent},       {"(", Macro::kOpenGroup},     {"Chr", Macro::kChr},
};

// The macro whose name `rest` (the text after a "%") begins with; its name's
// length in `length`.
Macro FindMacro(std::string_view rest, size_t& length) {
  for (const MacroEntry& e : kMacroTable) {
    if (StartsWithIgnoreCase(rest, e.name)) {
      length = e.name.size();
      return e.macro;
    }
  }
  return Macro::kNone;
}

// Collects an expansion. Text() is the action text's own (the user wrote
// it); Data() came from a reported file.
class PlainSink {
 public:
  explicit PlainSink(std::string& out) : out_(out) {}
  void Text(std::string_view t) { out_.append(t); }
  void Data(std::string_view t) { out_.append(t); }
  void OnPlaceholder(bool) {}

 private:
  std::string& out_;
};

class MarkedSink {
 public:
  explicit MarkedSink(MarkedText& out) : out_(out) { out_.literal.resize(out_.text.size(), false); }
  void Text(std::string_view t) { Append(t, false); }
  void Data(std::string_view t) {
    Append(t, true);
    if (on_placeholder_ && !t.empty()) out_.placeholder = true;
  }
  // Whether the record that Data() describes is the placeholder.
  void OnPlaceholder(bool yes) { on_placeholder_ = yes; }

 private:
  void Append(std::string_view t, bool literal) {
    out_.text.append(t);
    out_.literal.resize(out_.text.size(), literal);
  }
  MarkedText& out_;
  bool on_placeholder_ = false;
};

// The placeholder is split at its own backslash, so that no piece of it is
// a real path ("%Path/*" must never name the root folder's content).
char SeparatorOf(const FileData& record) {
  return &record == &PlaceholderRecord() ? '\\' : kPathSeparator;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// A path split for the "File" template.
struct PathPieces {
  std::string_view drive, directory, base, extension;
};

PathPieces SplitPath(std::string_view path, char separator) {
  PathPieces p;
  if (path.size() >= 2 && path[1] == ':') p.drive = path.substr(0, 2);
  std::string_view rest = path.substr(p.drive.size());
  const size_t slash = rest.rfind(separator);
  std::string_view dir = slash == std::string_view::npos ? std::string_view() : rest.substr(0, slash + 1);
  const std::string_view name = rest.substr(dir.size());
  if (name == "." || name == "..") {
    p.base = name;  // a directory reference, not a name with an extension
  } else {
    const size_t dot = name.rfind('.');
    p.base = name.substr(0, dot);
    if (dot != std::string_view::npos) p.extension = name.substr(dot + 1);
  }
  if (!dir.empty() && dir.front() == separator) dir.remove_prefix(1);
  if (!dir.empty() && dir.back() == separator) dir.remove_suffix(1);
  p.directory = dir;
  return p;
}

// The directory from its k-th component (1 = all of it) to its end.
std::string_view DirectoryFrom(std::string_view dir, long k, char separator) {
  if (k <= 0 || dir.empty()) return std::string_view();
  size_t at = 0;
  for (long skip = 1; skip < k; ++skip) {
    const size_t slash = dir.find(separator, at);
    if (slash == std::string_view::npos) return std::string_view();
    at = slash + 1;
  }
  return dir.substr(at);
}

void FillTemplate(std::string& out, std::string_view path, std::string_view tmpl,
                  char separator) {
  const PathPieces p = SplitPath(path, separator);
  size_t i = 0;
  while (i < tmpl.size()) {
    const char c = tmpl[i];
    switch (Upper(c)) {
      case 'D': out.append(p.drive); ++i; break;
      case 'P': out.append(p.directory); ++i; break;
      case 'N': out.append(p.base); ++i; break;
      case 'E': out.append(p.extension); ++i; break;
      case 'S': {
        ++i;
        if (i >= tmpl.size() || tmpl[i] != ':') break;  // a lone S gives nothing
        ++i;
        long k = 0;
        while (i < tmpl.size() && tmpl[i] >= '0' && tmpl[i] <= '9') {
          if (k < INT_MAX) k = k * 10 + (tmpl[i] - '0');
          ++i;
        }
        out.append(DirectoryFrom(p.directory, k, separator));
        break;
      }
      case '\'':
      case '"': {
        const size_t close = tmpl.find(c, i + 1);
        if (close == std::string_view::npos) {
          out.push_back(c);
          ++i;
        } else {
          out.append(tmpl.substr(i + 1, close - i - 1));
          i = close + 1;
        }
        break;
      }
      default: out.push_back(c); ++i; break;
    }
  }
}

template <typename Sink>
void AppendTime(Sink& out, std::string_view pattern, double value, const Services& services) {
  std::string text;
  if (!FormatDateTime(text, pattern, value, services.regional)) text = "[time]";
  out.Data(text);
}

template <typename Sink>
void EmitMacro(Macro macro, const std::string& param, const FileData& record,
               const Services& services, Sink& out) {
  const std::string_view name = record.Name;
  const char separator = SeparatorOf(record);
  switch (macro) {
    case Macro::kFile:
      if (param.empty()) {
        out.Data(name);
      } else {
        std::string filled;
        FillTemplate(filled, name, param, separator);
        out.Data(filled);
      }
      break;
    case Macro::kName: {
      const size_t slash = name.rfind(separator);
      out.Data(slash == std::string_view::npos ? name : name.substr(slash + 1));
      break;
    }
    case Macro::kPath: {
      const size_t slash = name.rfind(separator);
      if (slash != std::string_view::npos) out.Data(name.substr(0, slash));
      break;
    }
    case Macro::kTime:
      AppendTime(out, param, record.Time, services);
      break;
    case Macro::kSize: {
      // The whole 64-bit size: a file over 2 GiB must not show a wrapped one.
      char buf[24];
      auto r = std::to_chars(buf, buf + sizeof buf, record.Size);
      out.Data(std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
      break;
    }
    case Macro::kSysDate:
      AppendTime(out, param, services.clock->Now().value, services);
      break;
    case Macro::kAdded:
      if (record.State == kStateAdded) out.Text(param);
      break;
    case Macro::kChanged:
      if (record.State == kStateChanged) out.Text(param);
      break;
    case Macro::kDeleted:
      if (record.State == kStateDeleted) out.Text(param);
      break;
    case Macro::kPercent:
      out.Text("%");
      break;
    case Macro::kOpenGroup:
      break;
    case Macro::kChr: {
      const char c = static_cast<char>(AtoiLikeC(param) & 0xFF);
      if (c != '\0') out.Text(std::string_view(&c, 1));
      break;
    }
    case Macro::kNone:
      break;
  }
}

template <typename Sink>
void ExpandFile(const FileData& record, std::string_view text, const Services& services,
                Sink& out) {
  std::string param;
  size_t i = 0;
  while (i < text.size()) {
    const size_t percent = text.find('%', i);
    if (percent == std::string_view::npos) {
      out.Text(text.substr(i));
      return;
    }
    out.Text(text.substr(i, percent - i));
    i = percent + 1;
    size_t length = 0;
    const Macro macro = FindMacro(text.substr(i), length);
    if (macro == Macro::kNone) continue;  // the "%" is dropped
    i += length;
    param.clear();
    if (i + 1 < text.size() && text[i] == '=' && text[i + 1] == '"') {
      i += 2;
      i += UnquoteArgument(text.substr(i), param);
    }
    EmitMacro(macro, param, record, services, out);
  }
}

template <typename Sink>
int ExpandBatch(const FileList& files, std::string_view format, int start, int count,
                const Services& services, Sink& out) {
  const int total = static_cast<int>(files.size());
  if (start < 0 || (start != 0 && start >= total)) return 1;
  const int want = count > 0 ? count : total;
  const int n = want <= total - start ? want : total - start;
  // With no file, every segment and group stands on the placeholder once.
  const FileData* first = n > 0 ? &files[static_cast<size_t>(start)] : &PlaceholderRecord();
  out.OnPlaceholder(n == 0);

  size_t i = 0;
  while (i < format.size()) {
    const size_t percent = format.find('%', i);
    if (percent == std::string_view::npos) {
      out.Text(format.substr(i));
      break;
    }
    out.Text(format.substr(i, percent - i));
    i = percent + 1;
    if (i >= format.size()) break;  // a final "%" is dropped
    if (format[i] == '%') {
      out.Text("%");
      ++i;
    } else if (format[i] == '(') {
      const size_t close = format.find("%)", i + 1);
      const size_t end = close == std::string_view::npos ? format.size() : close;
      const std::string_view body = format.substr(i + 1, end - i - 1);
      if (n == 0) {
        ExpandFile(*first, body, services, out);
      } else {
        for (int k = 0; k < n; ++k) {
          ExpandFile(files[static_cast<size_t>(start + k)], body, services, out);
        }
      }
      i = close == std::string_view::npos ? format.size() : close + 2;
    } else {
      size_t length = 0;
      if (FindMacro(format.substr(i), length) == Macro::kNone) continue;  // "%" dropped
      // A segment runs to the next "%", even one inside a quoted parameter.
      size_t next = format.find('%', i);
      if (next == std::string_view::npos) next = format.size();
      ExpandFile(*first, format.substr(percent, next - percent), services, out);
      i = next;
    }
  }
  return n > 0 ? n : 1;
}

}  // namespace

const FileData& PlaceholderRecord() {
  static const FileData* placeholder = new FileData("[D:]\\[P]\\[N].[E]", -1.0, 0, kStateNone);
  return *placeholder;
}

std::string ExpandForFile(const FileData& record, std::string_view text,
                          const Services& services) {
  if (text.find('%') == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size() + record.Name.size() + 32);
  PlainSink sink(out);
  ExpandFile(record, text, services, sink);
  return out;
}

int ExpandForBatch(const FileList& files, std::string& result, std::string_view format,
                   int start, int count, const Services& services) {
  PlainSink sink(result);
  return ExpandBatch(files, format, start, count, services, sink);
}

int ExpandForBatch(const FileList& files, MarkedText& result, std::string_view format,
                   int start, int count, const Services& services) {
  MarkedSink sink(result);
  return ExpandBatch(files, format, start, count, services, sink);
}

}  // namespace sentrel
