#include "cursor/art/static_cursor_recognition.hpp"

#include "cursor/art/kernels.hpp"
#include "cursor/art/native_cursor_library.hpp"

namespace vurle {

StaticCursorRecognition::StaticCursorRecognition() {
  auto library = NativeCursorLibrary::shared();
  for (const auto& [name, cursor] : namedSystemCursors()) {
    if (auto art = library->match(cursor)) {
      knownIdentities_.insert(art->identity());
      labels_.emplace(art->identity(), name);  // keeps the first name
    }
    auto thumbnail = cursorThumbnail(proposedCGImage(*cursor->image()));
    if (!thumbnail) continue;
    references_.push_back({cursor->image()->size(), cursor->hotSpot(), std::move(*thumbnail)});
  }
}

std::string StaticCursorRecognition::label(const NativeCursorArt& art) const {
  auto it = labels_.find(art.identity());
  return it == labels_.end() ? kCustomOrUnclassified : it->second;
}

bool StaticCursorRecognition::recognises(const NativeCursorArt& art) const {
  if (knownIdentities_.contains(art.identity())) return true;
  std::vector<const Reference*> sameGeometry;
  for (const auto& reference : references_) {
    if (reference.size == art.nativeSize() && reference.hotspot == art.nativeHotspot()) {
      sameGeometry.push_back(&reference);
    }
  }
  if (sameGeometry.empty()) return false;
  const auto thumbnail = cursorThumbnail(proposedCGImage(*art.native()));
  if (!thumbnail) return false;
  for (const auto* reference : sameGeometry) {
    if (reference->thumbnail.size() == thumbnail->size() &&
        imagesNearlyEqual(reference->thumbnail.data(), thumbnail->data(),
                          static_cast<int32_t>(thumbnail->size()))) {
      return true;
    }
  }
  return false;
}

}  // namespace vurle
