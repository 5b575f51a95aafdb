#include "entry/config_watch.h"

#include <mutex>

#include "platform/file_ops.h"
#include "platform/paths.h"

namespace sentrel {
namespace {

// As many links as the system itself follows on one path; more is a loop.
constexpr int kMostLinks = 40;

ConfigWatch::Place Split(const std::string& path, bool link) {
  const size_t cut = FindLastSeparator(path);
  return {path.substr(0, cut + 1), path.substr(cut + 1), link};
}

// Every link met on the way to the file, from the root down and again from
// the root of each target, then the file where the path leads at last.
std::vector<ConfigWatch::Place> PlacesOf(const std::string& path) {
  std::vector<ConfigWatch::Place> places;
  std::string full = path;
  for (int hops = 0; hops < kMostLinks; ++hops) {
    bool followed = false;
    for (size_t end = 1; end <= full.size() && !followed; ++end) {
      if (end < full.size() && !IsPathSeparator(full[end])) continue;
      const std::string prefix = full.substr(0, end);
      std::string target;
      if (!ReadLinkTarget(prefix, target) || target.empty()) continue;
      places.push_back(Split(prefix, true));
      const std::string& folder = places.back().folder;
      full = AbsolutePath((IsAbsolutePath(target) ? target : folder + target) + full.substr(end));
      followed = true;
    }
    if (!followed) break;
  }
  places.push_back(Split(full, false));
  return places;
}

}  // namespace

// The watch of one folder for one of the places.
class ConfigWatch::Spot final : public TreeWatchClient {
 public:
  Spot(ConfigWatch& owner, Place place) : owner_(owner), place_(std::move(place)) {}
  void OnTreeChange(const TreeChange& change) override { owner_.OnSpotChange(place_, change); }
  void OnTreeTimer() override {}

 private:
  ConfigWatch& owner_;
  const Place place_;
};

ConfigWatch::ConfigWatch(const std::string& path, std::function<void()> saved)
    : service_(DirWatchService::Shared()),
      path_(IsAbsolutePath(path) ? path : CurrentDirectory() + kPathSeparator + path),
      saved_(std::move(saved)) {}

ConfigWatch::~ConfigWatch() { Stop(); }

bool ConfigWatch::Open() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (open_) return true;
  open_ = true;
  // For the timer only: the spots watch the folders.
  service_.Register(this);
  return Follow();
}

void ConfigWatch::Stop() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (!open_) return;
  open_ = false;
  service_.Unregister(this);
  for (const auto& spot : spots_) service_.Unregister(spot.get());
  spots_.clear();
  places_.clear();
}

bool ConfigWatch::Follow() {
  std::vector<Place> places = PlacesOf(path_);
  if (places == places_ && !spots_.empty()) return service_.Watching(spots_.back().get());
  for (const auto& spot : spots_) service_.Unregister(spot.get());
  spots_.clear();
  places_ = std::move(places);
  bool file_watched = false;
  for (const Place& place : places_) {
    spots_.push_back(std::make_unique<Spot>(*this, place));
    service_.Register(spots_.back().get());
    // Names of folders beside it do not count; its own writes and name do.
    file_watched = service_.Watch(spots_.back().get(), place.folder, TreeWatchOptions());
  }
  return file_watched;
}

void ConfigWatch::OnTreeChange(const TreeChange&) {}

void ConfigWatch::OnSpotChange(const Place& place, const TreeChange& change) {
  // A folder that went has taken its watch along; a file put back there is
  // not heard of, and the running configuration simply stays.
  if (!open_ || change.kind == TreeChange::Kind::kRootGone) return;
  if (change.kind == TreeChange::Kind::kEntry) {
    // A link to a folder may be told of as a folder.
    if (change.name != place.name || (change.is_dir && !place.link)) return;
    // Deleted or moved away: what takes its place is news.
    if (change.named && !change.appeared) return;
    // A link is only ever replaced whole; writes through it land in the
    // file it leads to, which is watched on its own.
    if (place.link && !change.named) return;
  }
  // A lost watch may have missed a save: the file is read again to be sure.
  pending_ = true;
  const bool complete = change.kind != TreeChange::Kind::kEntry || change.write_ended ||
                        (change.named && !change.may_go_on);
  service_.SetTimer(this, complete ? kGatherMs : kSettleMs);
}

void ConfigWatch::OnTreeTimer() {
  if (!open_ || !pending_) return;
  pending_ = false;
  // A link switched since leads somewhere else: watched from now on.
  Follow();
  saved_();
}

}  // namespace sentrel
