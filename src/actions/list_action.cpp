#include "actions/list_action.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "actions/macros.h"
#include "config/path_remarks.h"
#include "lang/lang.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "shell/text_util.h"

namespace sentrel {

ListAction::ListAction() : Action(kLngCreateList) {
  list_name_ = AddParam<StringParam>("ListName", "list.txt");
  list_params_ = AddParam<StringParam>("ListParams", "%File");
  list_append_ = AddParam<BoolParam>("ListAppend", false);
  list_delete_ = AddParam<BoolParam>("ListDelete", false);
}

void ListAction::Run(const FileList& files, const RunContext& ctx) {
  // An empty run leaves the list as it was: not created, not emptied.
  if (files.empty()) return;
  // Binary mode with explicit line ends: the list's lines end in carriage
  // return and line feed on every platform, as readers of it expect.
  const std::string& name = list_name_->Value();
  if (ctx.DryRun()) {
    DescribeList(files, ctx);
    return;
  }
  const Services& services = ctx.services();
  const std::string& format = list_params_->Value();
  if (services.no_desktop && NamesConsole(name)) {
    // A service's console is nobody's: its lines go to the log, as
    // everything else the service says.
    std::string lines;
    for (const FileData& record : files) lines += ExpandForFile(record, format, services) + "\n";
    services.messages->Write(lines);
    return;
  }
  std::FILE* out = OpenFile(name, list_append_->Value() ? "ab" : "wb");
  if (out == nullptr) {
    ctx.ReportFor(*this).Failed("cannot write the list file \"" + name + "\": " +
                                std::strerror(errno));
    return;
  }
  static constexpr size_t kBufferSize = 1 << 16;
  std::setvbuf(out, nullptr, _IOFBF, kBufferSize);
  for (const FileData& record : files) {
    const std::string line = ExpandForFile(record, format, services);
    std::fwrite(line.data(), 1, line.size(), out);
    std::fwrite("\r\n", 1, 2, out);
  }
  // A full disk shows only when the buffer goes out.
  const bool write_failed = std::ferror(out) != 0;
  const int write_error = errno;
  const bool closed = std::fclose(out) == 0;
  if (write_failed || !closed) {
    ctx.ReportFor(*this).Failed("cannot write the list file \"" + name + "\": " +
                                std::strerror(write_failed ? write_error : errno));
  }
}

void ListAction::DescribeList(const FileList& files, const RunContext& ctx) const {
  const std::string& name = list_name_->Value();
  const std::string folder = DirectoryOf(name);
  if (name.empty() || !FolderExists(folder)) {
    ctx.ReportFor(*this).Failed("cannot write the list file \"" + name + "\": " +
                                (name.empty() ? "no name" : "the folder does not exist"));
    return;
  }
  // Expanded as the run would, so that a macro that fails shows here too.
  for (const FileData& record : files) ExpandForFile(record, list_params_->Value(), ctx.services());
  const std::string lines =
      files.size() == 1 ? "1 line" : std::to_string(files.size()) + " lines";
  ctx.Would((list_append_->Value() ? "append " + lines + " to " : "write " + lines + " to ") +
            ShellQuoted(name, kBlankOrQuote) +
            (list_append_->Value() ? "" : " (replacing its content)"));
}

void ListAction::Review(Diagnostics& notes) const {
  const std::string& name = list_name_->Value();
  if (StartsWithTilde(name)) {
    Note(notes, *list_name_, "ListName: \"" + name +
                                 "\": \"~\" is not expanded here; write the full path");
  } else if (const std::string trouble = FolderTrouble(DirectoryOf(name)); !trouble.empty()) {
    Note(notes, *list_name_, "ListName: folder \"" + DirectoryOf(name) + "\" " + trouble +
                                 EnvironmentHint(name) + "; the list cannot be written");
  }
}

void ListAction::AfterRun(const RunContext& ctx) {
  if (!list_delete_->Value()) return;
  // Only a file goes: a directory that happens to bear the name stays, as
  // a file deletion would leave it.
  const std::string& path = list_name_->Value();
  if (path.empty() || StatEntry(path).type == EntryType::kDirectory) return;
  if (ctx.DryRun()) {
    ctx.Would("delete " + ShellQuoted(path, kBlankOrQuote));
    return;
  }
  std::string error;
  RemoveFile(path, error);
}

std::string ListAction::Describe() const {
  return list_name_->Value() + ": " + list_params_->Value();
}

}  // namespace sentrel
