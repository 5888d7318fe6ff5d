#include "cursor/art/native_cursor_library.hpp"

#include <cstdlib>

#include "cursor/art/cursor_raster_cache.hpp"
#include "cursor/art/cursor_transition_frames.hpp"
#include "cursor/art/identity_hasher.hpp"
#include "cursor/art/kernels.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"

namespace vurle {
namespace {

using platform::NSCursor;

platform::ProcessWide<std::shared_ptr<NativeCursorLibrary>> sharedLibrary([] {
  return std::make_shared<NativeCursorLibrary>();
});

std::optional<std::vector<uint8_t>> thumbnailOf(const NSCursor& cursor) {
  if (!cursor.image()) return std::nullopt;
  return cursorThumbnail(proposedCGImage(*cursor.image()));
}

uint64_t differenceSum(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  uint64_t sum = 0;
  for (size_t i = 0; i < a.size(); ++i)
    sum += static_cast<uint64_t>(std::abs(int(a[i]) - int(b[i])));
  return sum;
}

}  // namespace

std::vector<NamedSystemCursor> namedSystemCursors() {
  std::vector<NamedSystemCursor> list{
      {"arrow", NSCursor::arrowCursor()},
      {"hand", NSCursor::pointingHandCursor()},
      {"text", NSCursor::IBeamCursor()},
      {"vertical text", NSCursor::IBeamCursorForVerticalLayout()},
      {"crosshair", NSCursor::crosshairCursor()},
      {"open hand", NSCursor::openHandCursor()},
      {"closed hand", NSCursor::closedHandCursor()},
      {"not allowed", NSCursor::operationNotAllowedCursor()},
      {"copy", NSCursor::dragCopyCursor()},
      {"alias", NSCursor::dragLinkCursor()},
      {"context menu", NSCursor::contextualMenuCursor()},
      {"disappearing item", NSCursor::disappearingItemCursor()},
      {"resize left", NSCursor::resizeLeftCursor()},
      {"resize right", NSCursor::resizeRightCursor()},
      {"resize horizontal", NSCursor::resizeLeftRightCursor()},
      {"resize up", NSCursor::resizeUpCursor()},
      {"resize down", NSCursor::resizeDownCursor()},
      {"resize vertical", NSCursor::resizeUpDownCursor()},
  };
  if (platform::ProcessInfo::isOperatingSystemAtLeastVersion({15, 0, 0})) {
    list.push_back({"zoom in", NSCursor::zoomInCursor()});
    list.push_back({"zoom out", NSCursor::zoomOutCursor()});
    list.push_back({"column", NSCursor::columnResizeCursor()});
    list.push_back({"row", NSCursor::rowResizeCursor()});
    for (unsigned d : {1u, 2u, 3u}) {
      list.push_back({"column " + std::to_string(d),
                      NSCursor::columnResize(platform::NSHorizontalDirections(d))});
    }
    for (unsigned d : {1u, 2u, 3u}) {
      list.push_back(
          {"row " + std::to_string(d), NSCursor::rowResize(platform::NSVerticalDirections(d))});
    }
    for (unsigned p : {1u, 2u, 4u, 8u, 3u, 9u, 6u, 12u}) {
      for (unsigned d : {1u, 2u, 3u}) {
        list.push_back({"frame " + std::to_string(p) + "/" + std::to_string(d),
                        NSCursor::frameResize(platform::NSCursorFrameResizePosition(p),
                                              platform::NSCursorFrameResizeDirections(d))});
      }
    }
  }
  // A cursor the platform could not draw is left out rather than handed on
  // as a null cursor.
  std::erase_if(list, [](const NamedSystemCursor& entry) { return !entry.cursor; });
  return list;
}

CursorRef systemCursor(PointerKind kind) {
  switch (kind) {
    case PointerKind::arrow:
      return NSCursor::arrowCursor();
    case PointerKind::hand:
      return NSCursor::pointingHandCursor();
    case PointerKind::text:
      return NSCursor::IBeamCursor();
    case PointerKind::horizontal:
      return NSCursor::resizeLeftRightCursor();
    case PointerKind::vertical:
      return NSCursor::resizeUpDownCursor();
  }
  return nullptr;
}

NativeCursorLibrary::Geometry NativeCursorLibrary::Geometry::of(const NSCursor& cursor) {
  const CGSize size = cursor.image() ? cursor.image()->size() : CGSize{};
  return {size.width, size.height, cursor.hotSpot().x, cursor.hotSpot().y};
}

size_t NativeCursorLibrary::GeometryHash::operator()(const Geometry& geometry) const {
  IdentityHasher hasher;
  for (double value : {geometry.width, geometry.height, geometry.x, geometry.y})
    hasher.combine(value);
  return static_cast<size_t>(hasher.finish());
}

NativeCursorLibrary::CursorGroups groupCursorsByGeometry(const std::vector<CursorRef>& cursors) {
  NativeCursorLibrary::CursorGroups groups;
  for (const auto& cursor : cursors) {
    if (cursor) groups[NativeCursorLibrary::Geometry::of(*cursor)].push_back(cursor);
  }
  return groups;
}

std::shared_ptr<NativeCursorLibrary> NativeCursorLibrary::shared() { return sharedLibrary.get(); }

NativeCursorLibrary::NativeCursorLibrary() { buildAssets(); }

void NativeCursorLibrary::buildAssets() {
  assets_.clear();
  commonIdentities_.clear();
  for (PointerKind kind : allPointerKinds) {
    if (auto art = NativeCursorArt::make(systemCursor(kind))) assets_[kind] = art;
  }
  for (const auto& [kind, art] : assets_) commonIdentities_.insert(art->identity());
}

ArtRef NativeCursorLibrary::art(PointerKind kind) const {
  auto it = assets_.find(kind);
  return it == assets_.end() ? nullptr : it->second;
}

namespace {

NativeCursorLibrary::CursorGroups catalogueByGeometry() {
  std::vector<CursorRef> cursors;
  for (const auto& entry : namedSystemCursors()) cursors.push_back(entry.cursor);
  return groupCursorsByGeometry(cursors);
}

}  // namespace

const NativeCursorLibrary::CursorGroups& NativeCursorLibrary::standardCursors() {
  if (!standardCursors_) standardCursors_ = catalogueByGeometry();
  return *standardCursors_;
}

bool NativeCursorLibrary::isStandard(const NativeCursorArt& art) {
  if (commonIdentities_.contains(art.identity())) return true;
  const Geometry g{art.nativeSize().width, art.nativeSize().height, art.nativeHotspot().x,
                   art.nativeHotspot().y};
  if (auto it = standardIdentities_.find(g); it != standardIdentities_.end()) {
    return it->second.contains(art.identity());
  }
  const auto& groups = standardCursors();
  auto group = groups.find(g);
  if (group == groups.end()) return false;
  std::unordered_set<int64_t> identities;
  for (const auto& cursor : group->second) {
    if (auto made = NativeCursorArt::make(cursor)) identities.insert(made->identity());
  }
  const bool found = identities.contains(art.identity());
  standardIdentities_.emplace(g, std::move(identities));
  return found;
}

ArtRef NativeCursorLibrary::match(const CursorRef& cursor) {
  if (!cursor || !cursor->image()) return nullptr;
  const Geometry g = Geometry::of(*cursor);

  const std::vector<Candidate>* candidates = nullptr;
  std::vector<Candidate> unstored;
  if (auto it = canonicalStandards_.find(g); it != canonicalStandards_.end()) {
    candidates = &it->second;
  } else {
    const auto& groups = standardCursors();
    auto group = groups.find(g);
    std::vector<Candidate> built;
    if (group != groups.end()) {
      for (const auto& standard : group->second) {
        auto art = NativeCursorArt::make(standard);
        if (!art) continue;
        auto pixels = thumbnailOf(*standard);
        if (!pixels) continue;
        built.push_back({std::move(art), std::move(*pixels)});
      }
      candidates = &canonicalStandards_.emplace(g, std::move(built)).first->second;
    } else {
      candidates = &unstored;
    }
  }

  if (!candidates->empty()) {
    if (const auto sample = thumbnailOf(*cursor)) {
      for (const auto& candidate : *candidates) {
        if (candidate.pixels == *sample) return candidate.art;
      }
      const Candidate* best = nullptr;
      uint64_t bestSum = 0;
      for (const auto& candidate : *candidates) {
        if (candidate.pixels.size() != sample->size() ||
            !imagesNearlyEqual(candidate.pixels.data(), sample->data(),
                               static_cast<int32_t>(sample->size()))) {
          continue;
        }
        const uint64_t sum = differenceSum(candidate.pixels, *sample);
        if (!best || sum < bestSum) {
          best = &candidate;
          bestSum = sum;
        }
      }
      if (best) return best->art;
    }
  }

  auto art = NativeCursorArt::make(cursor);
  if (!art) return nullptr;
  if (auto it = snapshots_.find(art->identity()); it != snapshots_.end()) return it->second;
  if (snapshots_.size() >= kMaximumSnapshots) snapshots_.clear();
  snapshots_.emplace(art->identity(), art);
  return art;
}

void NativeCursorLibrary::invalidate() {
  snapshots_.clear();
  standardIdentities_.clear();
  canonicalStandards_.clear();
  standardCursors_ = catalogueByGeometry();  // replaced in place
  CursorRasterCache::storage()->removeAllObjects();
  CursorTransitionFrames::removeAll();
  buildAssets();
  platform::NSNotificationCenter::defaultCenter().postNotificationName(cursorArtworkDidInvalidate,
                                                                       this);
}

}  // namespace vurle
