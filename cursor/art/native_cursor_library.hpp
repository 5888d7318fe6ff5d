#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "cursor/art/native_cursor_art.hpp"
#include "cursor/art/pointer_kind.hpp"
#include "platform/appkit/cursor.hpp"
#include "platform/notifications/notification_center.hpp"

namespace vurle {

using CursorRef = std::shared_ptr<platform::NSCursor>;
using ArtRef = std::shared_ptr<NativeCursorArt>;

// Posted on the default center, with the library as object, after
// NativeCursorLibrary::invalidate() rebuilt the cursor artwork.
inline const platform::NSNotificationName cursorArtworkDidInvalidate =
    "vurle.cursorArtworkDidInvalidate";

struct NamedSystemCursor {
  std::string name;
  CursorRef cursor;
};

// The named system cursors in catalogue order: 18 always, 52 from macOS 15
// on. Built fresh on every call.
std::vector<NamedSystemCursor> namedSystemCursors();

// The system cursor whose artwork stands for a pointer kind.
CursorRef systemCursor(PointerKind kind);

class NativeCursorLibrary {
 public:
  // An image's width and height and its hot spot, in points.
  struct Geometry {
    CGFloat width = 0, height = 0, x = 0, y = 0;
    static Geometry of(const platform::NSCursor& cursor);
    bool operator==(const Geometry& other) const {
      return width == other.width && height == other.height && x == other.x && y == other.y;
    }
  };
  struct GeometryHash {
    size_t operator()(const Geometry& geometry) const;  // -0 hashes as +0
  };
  using CursorGroups = std::unordered_map<Geometry, std::vector<CursorRef>, GeometryHash>;

  // The one library, made on first use (main thread only; no lock).
  static std::shared_ptr<NativeCursorLibrary> shared();

  // The canonical art of a cursor: the catalogue's art for a standard
  // cursor (also when its image differs by a few anti-aliasing bytes), else
  // a remembered snapshot with the same identity, else a new snapshot. None
  // when no art can be made of the cursor.
  ArtRef match(const CursorRef& cursor);
  // Whether the art is one of the pointer kinds' or a catalogue cursor's.
  bool isStandard(const NativeCursorArt& art);
  // The art of a pointer kind, or none when it could not be made.
  ArtRef art(PointerKind kind) const;
  // Rebuilds every table for a new render scale, empties the raster cache
  // and the transition-frame store, and posts cursorArtworkDidInvalidate.
  void invalidate();

  // The catalogue grouped by geometry, built on first read.
  const CursorGroups& standardCursors();
  // Snapshots held now; never more than kMaximumSnapshots.
  size_t snapshotCount() const { return snapshots_.size(); }

  static constexpr size_t kMaximumSnapshots = 48;

  NativeCursorLibrary();

 private:
  struct Candidate {
    ArtRef art;
    std::vector<uint8_t> pixels;
  };
  void buildAssets();

  std::unordered_map<PointerKind, ArtRef> assets_;
  std::unordered_map<int64_t, ArtRef> snapshots_;
  std::unordered_set<int64_t> commonIdentities_;
  std::optional<CursorGroups> standardCursors_;
  std::unordered_map<Geometry, std::unordered_set<int64_t>, GeometryHash> standardIdentities_;
  std::unordered_map<Geometry, std::vector<Candidate>, GeometryHash> canonicalStandards_;
};

// Groups cursors by geometry; each group keeps the given order.
NativeCursorLibrary::CursorGroups groupCursorsByGeometry(const std::vector<CursorRef>& cursors);

}  // namespace vurle
