// The settings in the registry, under HKEY_CURRENT_USER\Software.
#include <vector>

#include "platform/settings_store.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

class Key {
 public:
  Key() = default;
  ~Key() {
    if (h_ != nullptr) RegCloseKey(h_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &h_; }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

class RegistrySettingsStore final : public SettingsStore {
 public:
  explicit RegistrySettingsStore(std::string base) : base_(std::move(base)) {}

  bool KeyExists(const std::string& key) override {
    Key k;
    return Open(key, KEY_READ, k);
  }

  bool MoveKey(const std::string& from, const std::string& to) override {
    if (KeyExists(to)) return true;
    Key source;
    if (!Open(from, KEY_READ, source)) return false;
    bool done;
    {
      Key target;
      done = RegCreateKeyExW(HKEY_CURRENT_USER, PathOf(to).c_str(), 0, nullptr, 0,
                             KEY_ALL_ACCESS, nullptr, target.out(), nullptr) == ERROR_SUCCESS &&
             RegCopyTreeW(source.get(), nullptr, target.get()) == ERROR_SUCCESS;
    }
    // Half a copy would pass for the settings at the next start, and the
    // legacy key be deleted: none is better.
    if (!done) RegDeleteTreeW(HKEY_CURRENT_USER, PathOf(to).c_str());
    return done;
  }

  void DeleteKey(const std::string& key) override {
    if (Trimmed(key).empty()) return;  // never the whole store
    RegDeleteTreeW(HKEY_CURRENT_USER, PathOf(key).c_str());
  }

  void DeleteKeyIfEmpty(const std::string& key) override {
    if (Trimmed(key).empty()) return;
    DWORD subkeys = 0, values = 0;
    {
      Key k;
      if (!Open(key, KEY_READ, k)) return;
      if (RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                           &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return;
      }
    }
    if (subkeys == 0 && values == 0) RegDeleteKeyW(HKEY_CURRENT_USER, PathOf(key).c_str());
  }

  std::optional<std::map<std::string, SettingValue>> ReadValues(
      const std::string& key) override {
    Key k;
    if (!Open(key, KEY_READ, k)) return std::nullopt;
    std::map<std::string, SettingValue> values;
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(4096);
    for (DWORD i = 0;; ++i) {
      DWORD name_len = static_cast<DWORD>(name.size());
      DWORD type = 0;
      DWORD data_len = static_cast<DWORD>(data.size());
      LONG r = RegEnumValueW(k.get(), i, name.data(), &name_len, nullptr, &type, data.data(),
                             &data_len);
      if (r == ERROR_MORE_DATA) {
        data.resize(data_len + 2);
        name_len = static_cast<DWORD>(name.size());
        data_len = static_cast<DWORD>(data.size());
        r = RegEnumValueW(k.get(), i, name.data(), &name_len, nullptr, &type, data.data(),
                          &data_len);
      }
      if (r == ERROR_NO_MORE_ITEMS) break;
      if (r != ERROR_SUCCESS) continue;
      SettingValue v;
      if (type == REG_DWORD && data_len == sizeof(DWORD)) {
        v.kind = SettingValue::Kind::kDword;
        v.dword = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                  static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
      } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
        v.kind = SettingValue::Kind::kText;
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()),
                          data_len / sizeof(wchar_t));
        // A stored text ends at its terminator; what a careless writer left
        // after it is not part of it.
        const size_t end = text.find(L'\0');
        if (end != std::wstring::npos) text.resize(end);
        v.text = Narrow(text);
      } else {
        continue;  // of a type no setting has
      }
      values.emplace(UpperAscii(Narrow(std::wstring_view(name.data(), name_len))), std::move(v));
    }
    return values;
  }

 private:
  static std::string Trimmed(std::string key) {
    while (!key.empty() && (key.front() == '/' || key.front() == '\\')) key.erase(0, 1);
    return key;
  }
  std::wstring PathOf(const std::string& key) const {
    std::string path = base_;
    const std::string k = Trimmed(key);
    if (!k.empty()) path += "\\" + k;
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    return Widen(path);
  }
  bool Open(const std::string& key, REGSAM access, Key& k) const {
    return RegOpenKeyExW(HKEY_CURRENT_USER, PathOf(key).c_str(), 0, access, k.out()) ==
           ERROR_SUCCESS;
  }

  std::string base_;
};

}  // namespace

std::unique_ptr<SettingsStore> OpenUserSettingsStore() {
  return std::make_unique<RegistrySettingsStore>("Software");
}

std::unique_ptr<SettingsStore> OpenRegistrySettingsStore(const std::string& base) {
  return std::make_unique<RegistrySettingsStore>(base);
}

}  // namespace sentrel
