#ifndef SENTREL_PLATFORM_PROFILE_READER_H_
#define SENTREL_PLATFORM_PROFILE_READER_H_

#include <memory>
#include <string>

namespace sentrel {

// Reads values from an ini-style profile file ([Section] headers, Key=Value
// lines). Sections and keys compare ignoring ASCII case; the first matching
// key wins; blanks around names and values are dropped, and one pair of
// matching quotes around a value; lines starting with ";" are comments.
// Results are cut to 2047 characters. A missing file, section or key gives the
// default; a present key with an empty value gives the empty text.
class ProfileReader {
 public:
  virtual ~ProfileReader() = default;
  virtual std::string Read(const std::string& section, const std::string& key,
                           const std::string& fallback) = 0;
};

// A reader of the file at `path`. Nothing is opened until the first Read.
std::unique_ptr<ProfileReader> OpenProfile(const std::string& path);

// The same rules over a text already in memory.
std::string ReadProfileText(const std::string& text, const std::string& section,
                            const std::string& key, const std::string& fallback);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_PROFILE_READER_H_
