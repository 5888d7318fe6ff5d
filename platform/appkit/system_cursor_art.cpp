#include "platform/appkit/system_cursor_art.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/graphics/context.hpp"

namespace platform {
namespace {

// ---- paths in points, y down from the image's top-left corner -------------

struct Path {
  enum Kind { Move, Line, Curve, Close };
  struct Op {
    Kind kind;
    CGPoint p[3];
  };
  std::vector<Op> ops;
  bool evenOdd = false;

  Path& move(CGFloat x, CGFloat y) { return add({Move, {{x, y}}}); }
  Path& line(CGFloat x, CGFloat y) { return add({Line, {{x, y}}}); }
  Path& curve(CGPoint a, CGPoint b, CGPoint p) { return add({Curve, {a, b, p}}); }
  Path& close() { return add({Close, {}}); }
  Path& add(Op op) {
    ops.push_back(op);
    return *this;
  }
  Path& append(const Path& other) {
    ops.insert(ops.end(), other.ops.begin(), other.ops.end());
    return *this;
  }

  // Rotated by `degrees` about the origin (clockwise on screen, y being
  // down), then moved by (dx, dy).
  Path placed(CGFloat degrees, CGFloat dx, CGFloat dy) const {
    const CGFloat r = degrees * M_PI / 180.0;
    // Exact quarter turns keep axis-aligned art on the pixel grid.
    const CGFloat c = std::fmod(degrees, 90.0) == 0 ? std::round(std::cos(r)) : std::cos(r);
    const CGFloat s = std::fmod(degrees, 90.0) == 0 ? std::round(std::sin(r)) : std::sin(r);
    Path out = *this;
    for (auto& op : out.ops)
      for (auto& p : op.p) p = {p.x * c - p.y * s + dx, p.x * s + p.y * c + dy};
    return out;
  }
};

Path polygon(std::initializer_list<CGPoint> points) {
  Path path;
  bool first = true;
  for (const auto& p : points) {
    first ? path.move(p.x, p.y) : path.line(p.x, p.y);
    first = false;
  }
  return path.close();
}

Path rect(CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
  return polygon({{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}});
}

constexpr CGFloat kKappa = 0.5522847498;  // quarter circle as a cubic

Path ellipse(CGFloat cx, CGFloat cy, CGFloat rx, CGFloat ry) {
  const CGFloat kx = rx * kKappa, ky = ry * kKappa;
  Path path;
  path.move(cx + rx, cy);
  path.curve({cx + rx, cy + ky}, {cx + kx, cy + ry}, {cx, cy + ry});
  path.curve({cx - kx, cy + ry}, {cx - rx, cy + ky}, {cx - rx, cy});
  path.curve({cx - rx, cy - ky}, {cx - kx, cy - ry}, {cx, cy - ry});
  path.curve({cx + kx, cy - ry}, {cx + rx, cy - ky}, {cx + rx, cy});
  return path.close();
}

Path circle(CGFloat cx, CGFloat cy, CGFloat r) { return ellipse(cx, cy, r, r); }

Path ring(CGFloat cx, CGFloat cy, CGFloat outer, CGFloat inner) {
  Path path = circle(cx, cy, outer);
  path.append(circle(cx, cy, inner));
  path.evenOdd = true;
  return path;
}

Path roundRect(CGFloat x, CGFloat y, CGFloat w, CGFloat h, CGFloat r) {
  const CGFloat k = r * (1 - kKappa);
  Path path;
  path.move(x + r, y).line(x + w - r, y);
  path.curve({x + w - k, y}, {x + w, y + k}, {x + w, y + r}).line(x + w, y + h - r);
  path.curve({x + w, y + h - k}, {x + w - k, y + h}, {x + w - r, y + h}).line(x + r, y + h);
  path.curve({x + k, y + h}, {x, y + h - k}, {x, y + h - r}).line(x, y + r);
  path.curve({x, y + k}, {x + k, y}, {x + r, y});
  return path.close();
}

// ---- painting ---------------------------------------------------------------

struct Colour {
  CGFloat r, g, b, a;
};
constexpr Colour kBlack{0, 0, 0, 1};
constexpr Colour kWhite{1, 1, 1, 1};

// Shapes painted as one: first every outline (so the group casts a single
// shadow and shows no seams where its shapes overlap), then every fill.
struct Group {
  std::vector<Path> paths;
  Colour fill = kBlack;
  Colour outline = kWhite;
  CGFloat outlineWidth = 1;  // points outside the shape; 0: none
  bool shadow = true;
};

using Art = std::vector<Group>;

struct Design {
  NSSize size;
  NSPoint hotSpot;
  Art art;
};

void addPath(const CGContextRef& c, const Path& path) {
  for (const auto& op : path.ops) {
    switch (op.kind) {
      case Path::Move:
        CGContextMoveToPoint(c, op.p[0].x, op.p[0].y);
        break;
      case Path::Line:
        CGContextAddLineToPoint(c, op.p[0].x, op.p[0].y);
        break;
      case Path::Curve:
        CGContextAddCurveToPoint(c, op.p[0].x, op.p[0].y, op.p[1].x, op.p[1].y, op.p[2].x,
                                 op.p[2].y);
        break;
      case Path::Close:
        CGContextClosePath(c);
        break;
    }
  }
}

// The shadow under outlined groups: one point down, blurred by 1.5 points.
// The context's blur reaches 3 points at 1 and 2 pixels a point; a pixel the
// outline only touches casts it too, so the image keeps 4 points clear.
constexpr CGFloat kShadowDrop = 1, kShadowBlur = 1.5, kShadowReach = 4;

void paint(const CGContextRef& c, CGFloat scale, const Art& art) {
  for (const auto& group : art) {
    if (group.outlineWidth > 0) {
      CGContextSaveGState(c);
      // Shadow offsets are in device pixels with y up.
      if (group.shadow)
        CGContextSetShadowWithColor(c, {0, -kShadowDrop * scale}, kShadowBlur * scale, 0, 0, 0, 0.35);
      CGContextSetRGBStrokeColor(c, group.outline.r, group.outline.g, group.outline.b,
                                 group.outline.a);
      CGContextSetLineWidth(c, 2 * group.outlineWidth);
      CGContextSetLineJoin(c, kCGLineJoinRound);
      CGContextBeginPath(c);
      for (const auto& path : group.paths) addPath(c, path);
      CGContextStrokePath(c);
      CGContextRestoreGState(c);
    }
    CGContextSetRGBFillColor(c, group.fill.r, group.fill.g, group.fill.b, group.fill.a);
    for (const auto& path : group.paths) {
      CGContextBeginPath(c);
      addPath(c, path);
      path.evenOdd ? CGContextEOFillPath(c) : CGContextFillPath(c);
    }
  }
}

// Whole points each side of a design's frame needs beyond its size and hot
// spot to hold all of its ink: outlines, shadows and the pixels their edges
// touch.
struct Room {
  CGFloat left = 0, top = 0, right = 0, bottom = 0;
};

Room roomNeeded(const Design& design) {
  CGFloat left = 0, top = 0, right = design.size.width, bottom = design.size.height;
  for (const auto& group : design.art) {
    const bool outlined = group.outlineWidth > 0, shadow = outlined && group.shadow;
    const CGFloat ink = outlined ? group.outlineWidth : 0;
    // An edge that only touches a pixel still tints it: one more point at 1×.
    const CGFloat side = ink + (shadow ? kShadowReach : 1);
    const CGFloat above = std::max(ink + 1, side - (shadow ? kShadowDrop : 0));
    const CGFloat below = side + (shadow ? kShadowDrop : 0);
    for (const auto& path : group.paths)
      for (const auto& op : path.ops) {
        // A curve lies within its control points.
        const int points = op.kind == Path::Curve ? 3 : op.kind == Path::Close ? 0 : 1;
        for (int i = 0; i < points; ++i) {
          left = std::min(left, op.p[i].x - side);
          right = std::max(right, op.p[i].x + side);
          top = std::min(top, op.p[i].y - above);
          bottom = std::max(bottom, op.p[i].y + below);
        }
      }
  }
  return {std::ceil(-left), std::ceil(-top), std::ceil(right - design.size.width),
          std::ceil(bottom - design.size.height)};
}

std::optional<Design> design(std::string_view key);

// Every key design() knows.
std::vector<std::string> allKeys();

Room most(const Room& a, const Room& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

using Frame = std::array<CGFloat, 4>;
Frame frameOf(const Design& d) { return {d.size.width, d.size.height, d.hotSpot.x, d.hotSpot.y}; }

// Cursors drawn in one frame (size and hot spot) keep sharing one, as the
// system's do: the room is the most any of them needs.
Room sharedRoom(const Design& of) {
  static const auto rooms = [] {
    std::map<Frame, Room> byFrame;
    for (const auto& key : allKeys())
      if (const auto found = design(key)) byFrame[frameOf(*found)] = most(byFrame[frameOf(*found)], roomNeeded(*found));
    return byFrame;
  }();
  const auto it = rooms.find(frameOf(of));
  return it == rooms.end() ? roomNeeded(of) : most(it->second, roomNeeded(of));
}

// The design in an image with room for all of its ink. Room on the left or
// top moves the art and its hot spot together, so the hot spot stays on the
// same point of the art.
Design framed(Design design) {
  const Room room = sharedRoom(design);
  if (room.left > 0 || room.top > 0) {
    for (auto& group : design.art)
      for (auto& path : group.paths) path = path.placed(0, room.left, room.top);
  }
  design.hotSpot = {design.hotSpot.x + room.left, design.hotSpot.y + room.top};
  design.size = {design.size.width + room.left + room.right, design.size.height + room.top + room.bottom};
  return design;
}

CGImageRef render(const Design& design, int scale) {
  const auto width = static_cast<size_t>(std::lround(design.size.width * scale));
  const auto height = static_cast<size_t>(std::lround(design.size.height * scale));
  auto c = CGBitmapContextCreate(nullptr, width, height, 8, 4 * width,
                                 CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedLast);
  if (!c) return nullptr;
  // Points, y down from the top-left corner, as the art is written.
  CGContextTranslateCTM(c, 0, static_cast<CGFloat>(height));
  CGContextScaleCTM(c, scale, -scale);
  paint(c, scale, design.art);
  return CGBitmapContextCreateImage(c);
}

// ---- the artwork ------------------------------------------------------------

Group plain(std::vector<Path> paths, Colour fill = kBlack) {
  return Group{std::move(paths), fill, kWhite, 0, false};
}

// The arrow with its tip at (x, y).
Path arrowShape(CGFloat x, CGFloat y) {
  return polygon({{x, y},
                  {x, y + 15.5},
                  {x + 3.8, y + 11.8},
                  {x + 6.4, y + 17.6},
                  {x + 8.8, y + 16.6},
                  {x + 6.3, y + 10.9},
                  {x + 11.5, y + 10.9}});
}

// An arrow along +x centred on the origin: shaft from `from` to `to`, a head
// at `to`.
Path arrowAlongX(CGFloat from, CGFloat to, CGFloat shaft = 0.9, CGFloat head = 4,
                 CGFloat halfHead = 3.4) {
  const CGFloat dir = to > from ? 1 : -1;
  const CGFloat base = to - dir * head;
  return polygon({{from, -shaft},
                  {base, -shaft},
                  {base, -halfHead},
                  {to, 0},
                  {base, halfHead},
                  {base, shaft},
                  {from, shaft}});
}

// Resize art along the x axis, then turned by `degrees` about the centre
// (cx, cy): heads towards +x and/or -x, and 0, 1 or 2 bars across.
Design resizeArt(bool towardsPlus, bool towardsMinus, int bars, CGFloat degrees) {
  std::vector<Path> shapes;
  const CGFloat gap = bars == 2 ? 1.6 : 0;
  const CGFloat reach = degrees == 45 || degrees == 135 ? 8.5 : 9.5;
  if (towardsPlus && towardsMinus && bars == 0) {
    shapes.push_back(arrowAlongX(-reach + 3, reach));
    shapes.push_back(arrowAlongX(reach - 3, -reach));
  } else {
    if (towardsPlus) shapes.push_back(arrowAlongX(gap, reach));
    if (towardsMinus) shapes.push_back(arrowAlongX(-gap, -reach));
  }
  if (bars == 1) shapes.push_back(rect(-0.8, -7, 1.6, 14));
  if (bars == 2) {
    shapes.push_back(rect(-gap - 0.7, -7, 1.4, 14));
    shapes.push_back(rect(gap - 0.7, -7, 1.4, 14));
  }
  for (auto& shape : shapes) shape = shape.placed(degrees, 12, 12);
  return {{24, 24}, {12, 12}, {Group{std::move(shapes)}}};
}

Design arrowWithBadge(Art badge) {
  Art art{Group{{arrowShape(4, 4)}}};
  art.insert(art.end(), badge.begin(), badge.end());
  return {{26, 26}, {4, 4}, std::move(art)};
}

Path plus(CGFloat cx, CGFloat cy, CGFloat arm, CGFloat half) {
  Path path = rect(cx - arm, cy - half, 2 * arm, 2 * half);
  path.append(rect(cx - half, cy - arm, 2 * half, 2 * arm));
  return path;
}

// Hands are white with a black outline, as the platform draws them.
Group glove(std::vector<Path> shapes) {
  return Group{std::move(shapes), kWhite, kBlack, 0.9, true};
}

Design magnifier(bool zoomIn) {
  std::vector<Path> glass{circle(10, 10, 6.2), rect(-1.4, 0, 2.8, 7.5).placed(-45, 14.2, 14.2)};
  Path sign = zoomIn ? plus(10, 10, 3.2, 0.7) : rect(6.8, 9.3, 6.4, 1.4);
  return {{24, 24},
          {10, 10},
          {Group{std::move(glass)}, plain({circle(10, 10, 4.8)}, kWhite), plain({sign})}};
}

Design iBeam(bool vertical) {
  std::vector<Path> beam{rect(-0.6, -6.6, 1.2, 13.2), rect(-2.5, -7.2, 5, 1.1), rect(-2.5, 6.1, 5, 1.1)};
  for (auto& p : beam) p = vertical ? p.placed(90, 9, 4) : p.placed(0, 4, 9);
  Group group{std::move(beam)};
  group.outlineWidth = 0.8;
  group.shadow = false;
  return vertical ? Design{{18, 9}, {9, 4}, {group}} : Design{{9, 18}, {4, 9}, {group}};
}

// An open or closed hand, held at its centre, with the creases between its fingers.
Design grabbingHand(std::vector<Path> hand, std::vector<Path> creases) {
  return {{24, 24}, {12, 12}, {glove(std::move(hand)), plain(std::move(creases))}};
}

// The designs with a name of their own; the families below number theirs.
struct Named {
  std::string_view key;
  Design (*make)();
};
constexpr Named kNamed[] = {
    {"arrow", [] { return Design{{17, 23}, {4, 4}, {Group{{arrowShape(4, 4)}}}}; }},
    {"pointingHand",
     [] {
       return Design{
           {20, 22},
           {8, 2},
           {glove({roundRect(6.3, 1.2, 3.6, 12, 1.8), roundRect(9.9, 8, 3.1, 7, 1.5),
                   roundRect(13, 8.8, 3.1, 7, 1.5), roundRect(16.1, 10, 2.7, 6.5, 1.3),
                   roundRect(6.3, 11, 12.5, 9.5, 3),
                   polygon({{2, 13.4}, {3.6, 12}, {7.6, 15.4}, {7.6, 19.4}, {6, 19.4}})}),
            plain({rect(9.6, 10, 0.7, 3.2), rect(12.7, 10.6, 0.7, 3.2), rect(15.8, 11.4, 0.7, 3)})}};
     }},
    {"IBeam", [] { return iBeam(false); }},
    {"IBeamForVerticalLayout", [] { return iBeam(true); }},
    {"crosshair",
     [] {
       Group group{{rect(11.4, 2.5, 1.2, 8), rect(11.4, 13.5, 1.2, 8), rect(2.5, 11.4, 8, 1.2),
                    rect(13.5, 11.4, 8, 1.2)}};
       group.outlineWidth = 0.8;
       return Design{{24, 24}, {12, 12}, {group}};
     }},
    {"openHand",
     [] {
       return grabbingHand({roundRect(6.5, 4.5, 3, 9, 1.5), roundRect(9.6, 2.5, 3, 10, 1.5),
                            roundRect(12.7, 3, 3, 10, 1.5), roundRect(15.8, 5, 2.8, 8.5, 1.4),
                            roundRect(6, 10, 12.6, 10.5, 3.5),
                            polygon({{2.4, 12.2}, {4.2, 10.8}, {7.6, 14}, {7.4, 17.8}})},
                           {rect(9.4, 8, 0.6, 4), rect(12.5, 8, 0.6, 4), rect(15.6, 8.5, 0.6, 3.5)});
     }},
    {"closedHand",
     [] {
       return grabbingHand({roundRect(6.5, 7, 3, 5.5, 1.5), roundRect(9.6, 6.5, 3, 6, 1.5),
                            roundRect(12.7, 6.5, 3, 6, 1.5), roundRect(15.8, 7.5, 2.8, 5, 1.4),
                            roundRect(6, 9.5, 12.6, 10.5, 3.5),
                            polygon({{4, 12.5}, {5.6, 11.5}, {7.8, 14}, {7.6, 17}})},
                           {rect(9.4, 8.5, 0.6, 3), rect(12.5, 8.5, 0.6, 3), rect(15.6, 9, 0.6, 2.5)});
     }},
    {"operationNotAllowed",
     [] {
       Path slash = rect(-5, -0.9, 10, 1.8).placed(-45, 19, 19);
       return arrowWithBadge({Group{{ring(19, 19, 5.6, 3.9), slash}}});
     }},
    {"dragCopy", [] { return arrowWithBadge({Group{{circle(19, 19, 5.6)}}, plain({plus(19, 19, 3.4, 0.85)}, kWhite)}); }},
    {"dragLink",
     [] {
       return arrowWithBadge({Group{{circle(19, 19, 5.6)}},
                              plain({arrowAlongX(-3.6, 3.8, 0.8, 2.6, 2.4).placed(-45, 19, 19)}, kWhite)});
     }},
    {"contextualMenu",
     [] {
       Group menu = glove({rect(14, 13, 10, 11)});
       menu.shadow = false;
       return arrowWithBadge({menu, plain({rect(15.5, 15.5, 7, 1), rect(15.5, 18, 7, 1), rect(15.5, 20.5, 7, 1)})});
     }},
    {"disappearingItem",
     [] {
       return Design{{24, 24},
                     {12, 12},
                     {glove({circle(7, 10, 4.5), circle(12.5, 7.5, 5), circle(17.5, 10.5, 4.2),
                             circle(9, 15.5, 4.5), circle(15.5, 16, 4.5)}),
                      plain({plus(0, 0, 3, 0.7).placed(45, 12, 12)})}};
     }},
    {"resizeLeft", [] { return resizeArt(false, true, 1, 0); }},
    {"resizeRight", [] { return resizeArt(true, false, 1, 0); }},
    {"resizeLeftRight", [] { return resizeArt(true, true, 1, 0); }},
    {"resizeUp", [] { return resizeArt(false, true, 1, 90); }},
    {"resizeDown", [] { return resizeArt(true, false, 1, 90); }},
    {"resizeUpDown", [] { return resizeArt(true, true, 1, 90); }},
    {"zoomIn", [] { return magnifier(true); }},
    {"zoomOut", [] { return magnifier(false); }},
    {"columnResize", [] { return resizeArt(true, true, 2, 0); }},
    {"rowResize", [] { return resizeArt(true, true, 2, 90); }},
};

// The families' numbers: direction sets 1 to 3 ("column D", "row D",
// "frame P/D"), and each frame position's outward direction as an angle
// from +x (y down): top is up, left is left, and so on.
constexpr unsigned kDirectionSets = 3;
constexpr std::pair<unsigned, CGFloat> kOutward[] = {{1, 270}, {2, 180}, {4, 90},  {8, 0},
                                                    {3, 225}, {9, 315}, {6, 135}, {12, 45}};

std::optional<Design> design(std::string_view key) {
  for (const auto& named : kNamed)
    if (named.key == key) return named.make();
  const std::string k(key);
  unsigned a = 0, b = 0;
  char tail = 0;
  const auto set = [](unsigned d) { return d >= 1 && d <= kDirectionSets; };
  if (std::sscanf(k.c_str(), "column %u%c", &a, &tail) == 1 && set(a)) {
    return resizeArt(a & 2, a & 1, 2, 0);  // right = +x, left = -x
  }
  if (std::sscanf(k.c_str(), "row %u%c", &a, &tail) == 1 && set(a)) {
    return resizeArt(a & 2, a & 1, 2, 90);  // down = +y, up = -y
  }
  if (std::sscanf(k.c_str(), "frame %u/%u%c", &a, &b, &tail) == 2 && set(b)) {
    const auto it = std::find_if(std::begin(kOutward), std::end(kOutward), [&](const auto& o) { return o.first == a; });
    if (it == std::end(kOutward)) return std::nullopt;
    // Corners are diagonal double or single arrows without a bar.
    const bool corner = a == 3 || a == 9 || a == 6 || a == 12;
    const CGFloat axis = std::fmod(it->second, 180.0);
    const bool outIsPlus = it->second == axis;
    const bool inward = b & 1, out = b & 2;
    return resizeArt(outIsPlus ? out : inward, outIsPlus ? inward : out, corner ? 0 : 1, axis);
  }
  return std::nullopt;
}

std::vector<std::string> allKeys() {
  std::vector<std::string> keys;
  for (const auto& named : kNamed) keys.emplace_back(named.key);
  for (unsigned d = 1; d <= kDirectionSets; ++d) {
    keys.push_back("column " + std::to_string(d));
    keys.push_back("row " + std::to_string(d));
    for (const auto& [position, angle] : kOutward)
      keys.push_back("frame " + std::to_string(position) + "/" + std::to_string(d));
  }
  return keys;
}

}  // namespace

std::optional<SystemCursorArt> drawSystemCursor(std::string_view key) {
  auto found = design(key);
  if (!found) return std::nullopt;
  found = framed(std::move(*found));
  SystemCursorArt art{found->size, found->hotSpot, {}};
  for (int scale : kSystemCursorScales) {
    art.images.push_back(render(*found, scale));
    if (!art.images.back()) return std::nullopt;
  }
  return art;
}

}  // namespace platform
