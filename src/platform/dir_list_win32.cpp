#include "platform/dir_list.h"
#include "platform/wide_win32.h"

namespace sentrel {

struct DirectoryListing::Impl {
  std::string path;  // the directory, ending in "\"
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW data;
  bool have_first = false;  // `data` holds an entry not yet returned
  std::string name;
  ~Impl() {
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
  }
};

DirectoryListing::DirectoryListing() = default;
DirectoryListing::~DirectoryListing() { Close(); }

void DirectoryListing::Close() { impl_.reset(); }

namespace {

bool IsReparsePoint(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// Starts the search of "DIR\*". The basic information leaves out the short
// names, and the large fetch asks the system for many entries at a time.
std::unique_ptr<DirectoryListing::Impl> Search(std::string dir) {
  if (dir.empty() || (dir.back() != '\\' && dir.back() != '/')) dir.push_back('\\');
  auto impl = std::make_unique<DirectoryListing::Impl>();
  impl->find = FindFirstFileExW(WidePath(dir + "*").c_str(), FindExInfoBasic, &impl->data,
                                FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (impl->find == INVALID_HANDLE_VALUE) return nullptr;
  impl->have_first = true;
  impl->path = std::move(dir);
  return impl;
}

}  // namespace

bool DirectoryListing::Open(const std::string& path, bool follow_link) {
  Close();
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  if (!follow_link && IsReparsePoint(attributes)) return false;
  impl_ = Search(path);
  return impl_ != nullptr;
}

bool DirectoryListing::OpenChild(const DirectoryListing& parent, std::string_view name) {
  Close();
  if (!parent.impl_) return false;
  const std::string path = parent.impl_->path + std::string(name);
  // The listing said it was a directory; it may have become a link since.
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      IsReparsePoint(attributes)) {
    return false;
  }
  impl_ = Search(path);
  return impl_ != nullptr;
}

bool DirectoryListing::Identity(uint64_t& device, uint64_t& inode) const {
  if (!impl_) return false;
  ScopedHandle dir(CreateFileW(WidePath(impl_->path).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!dir.valid() || !GetFileInformationByHandle(dir.get(), &info)) return false;
  device = info.dwVolumeSerialNumber;
  inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

bool DirectoryListing::Next(DirEntryInfo& out) {
  if (!impl_) return false;
  Impl& d = *impl_;
  if (!d.have_first && !FindNextFileW(d.find, &d.data)) return false;
  d.have_first = false;
  const WIN32_FIND_DATAW& f = d.data;
  d.name = Narrow(f.cFileName);
  out.name = d.name;
  const bool dots = d.name == "." || d.name == "..";
  out.hidden = !dots && (f.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
  out.is_directory =
      (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !IsReparsePoint(f.dwFileAttributes);
  FileTimeToUnix(f.ftLastWriteTime, out.mtime_seconds, out.mtime_nanoseconds);
  out.size = static_cast<int64_t>((static_cast<uint64_t>(f.nFileSizeHigh) << 32) |
                                  f.nFileSizeLow);
  out.device = 0;
  out.inode = 0;
  return true;
}

bool NewEntryHidden(std::string_view) { return false; }

}  // namespace sentrel
