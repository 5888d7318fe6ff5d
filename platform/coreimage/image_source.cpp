#include "platform/coreimage/image_source.hpp"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/foundation/file_manager.hpp"

namespace platform {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::uint32_t bigEndian32(const unsigned char* bytes) {
  return (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) | (std::uint32_t(bytes[2]) << 8) | bytes[3];
}

// The kind of content a file's first bytes announce, and a PNG's size from
// its header chunk.
void identify(const unsigned char* head, std::size_t length, std::string& type, std::size_t& width,
              std::size_t& height) {
  static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (length >= 24 && std::memcmp(head, png, 8) == 0 && std::memcmp(head + 12, "IHDR", 4) == 0) {
    type = "public.png";
    width = bigEndian32(head + 16);
    height = bigEndian32(head + 20);
  } else if (length >= 12 && std::memcmp(head + 4, "ftyp", 4) == 0 &&
             (std::memcmp(head + 8, "heic", 4) == 0 || std::memcmp(head + 8, "heix", 4) == 0 ||
              std::memcmp(head + 8, "mif1", 4) == 0)) {
    type = "public.heic";
  } else if (length >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
    type = "public.jpeg";
  }
}

// ---- decoding -------------------------------------------------------------

// Where decoded rows go: premultiplied RGBA, top row first. A sink that
// keeps the whole picture gives its buffer, and rows are decoded in place.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual std::uint8_t* wholePicture() { return nullptr; }
  virtual void row(std::size_t y, const std::uint8_t* rgba) = 0;
};

// Cairo's premultiplication (x × a / 255, rounded), so a picture reads as
// it did when cairo decoded it.
void premultiply(std::uint8_t* rgba, std::size_t pixels) {
  for (std::size_t i = 0; i < pixels; ++i, rgba += 4) {
    const unsigned a = rgba[3];
    if (a == 255) continue;
    for (int c = 0; c < 3; ++c) {
      const unsigned t = a * rgba[c] + 0x80;
      rgba[c] = std::uint8_t((t + (t >> 8)) >> 8);
    }
  }
}

void quietWarning(png_structp, png_const_charp) {}
// Errors end the decoding at the setjmp below, without a word on stderr.
[[noreturn]] void quietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

struct ReadState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadState() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

// Reads the picture of w × h (its header's size, already bounded) into
// `sink`, keeping in `rows` what the sink does not. libpng's error jump
// lands here; this function owns nothing that a jump could leak or leave
// indeterminate: the reader, its file and the rows belong to the caller.
bool readRows(png_structp png, png_infop info, std::FILE* file, std::size_t w, std::size_t h, RowSink& sink,
              std::vector<std::uint8_t>& rows) {
  if (setjmp(png_jmpbuf(png))) return false;

  png_set_user_limits(png, png_uint_32(w), png_uint_32(h));
  png_init_io(png, file);
  png_read_info(png, info);
  if (png_get_image_width(png, info) != w || png_get_image_height(png, info) != h) return false;
  // The transforms cairo's reader asks for: 8-bit RGBA whatever is stored.
  const int colorType = png_get_color_type(png, info), depth = png_get_bit_depth(png, info);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (depth == 16) png_set_strip_16(png);
  if (depth < 8) png_set_packing(png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  // libpng puts the passes of an interlaced picture together only in a
  // buffer of the whole picture; rows handed on one by one take them apart.
  std::uint8_t* whole = sink.wholePicture();
  if (interlaced && whole) png_set_interlace_handling(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_read_update_info(png, info);
  if (png_get_bit_depth(png, info) != 8 || png_get_rowbytes(png, info) != w * 4) return false;
  const bool alpha = png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB_ALPHA || png_get_valid(png, info, PNG_INFO_tRNS);

  if (interlaced && whole) {
    for (int pass = 0; pass < 7; ++pass)
      for (std::size_t y = 0; y < h; ++y) png_read_row(png, whole + y * w * 4, nullptr);
    if (alpha) premultiply(whole, w * h);
  } else if (interlaced) {
    // Passes 1 to 6 hold the even rows, pass 7 the odd ones in order: only
    // the even rows are kept (half the picture), and every row goes on as
    // pass 7 reaches it. libpng skips a pass without pixels, as here.
    const std::size_t evenRows = (h + 1) / 2;
    rows.assign((evenRows + 1) * w * 4, 0);
    std::uint8_t* passRow = rows.data() + evenRows * w * 4;
    for (int pass = 0; pass < 6; ++pass) {
      const std::size_t columns = PNG_PASS_COLS(w, pass), passRows = PNG_PASS_ROWS(h, pass);
      for (std::size_t r = 0; columns > 0 && r < passRows; ++r) {
        png_read_row(png, passRow, nullptr);
        std::uint8_t* even = rows.data() + PNG_ROW_FROM_PASS_ROW(r, pass) / 2 * w * 4;
        for (std::size_t i = 0; i < columns; ++i) std::memcpy(even + PNG_COL_FROM_PASS_COL(i, pass) * 4, passRow + i * 4, 4);
      }
    }
    for (std::size_t y = 0; y < h; ++y) {
      std::uint8_t* row = y % 2 ? passRow : rows.data() + y / 2 * w * 4;
      if (y % 2) png_read_row(png, row, nullptr);
      if (alpha) premultiply(row, w);
      sink.row(y, row);
    }
  } else {
    if (!whole) rows.assign(w * 4, 0);
    for (std::size_t y = 0; y < h; ++y) {
      std::uint8_t* row = whole ? whole + y * w * 4 : rows.data();
      png_read_row(png, row, nullptr);
      if (alpha) premultiply(row, w);
      sink.row(y, row);
    }
  }
  png_read_end(png, nullptr);
  return true;
}

bool decodePNG(std::FILE* file, std::size_t w, std::size_t h, RowSink& sink) {
  ReadState state;
  state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
  if (!state.png) return false;
  state.info = png_create_info_struct(state.png);
  if (!state.info) return false;
  std::vector<std::uint8_t> rows;
  return readRows(state.png, state.info, file, w, h, sink, rows);
}

// The whole picture, decoded in place.
class PictureSink : public RowSink {
 public:
  explicit PictureSink(std::size_t bytes) : bytes_(std::make_shared<CFData>(bytes)) {}
  std::uint8_t* wholePicture() override { return bytes_->data(); }
  void row(std::size_t, const std::uint8_t*) override {}
  std::shared_ptr<CFData> bytes_;
};

// The picture reduced as it is decoded: each output pixel is the mean of
// the area it covers. With positions in units of 1 / (output size), source
// pixel i spans [i × out, (i + 1) × out) and output pixel j spans
// [j × in, (j + 1) × in): every share is a whole number, and since no
// output pixel is smaller than a source pixel, it holds some whole source
// pixels and at most a share of one more at each end. Rows are summed
// first, weighted by their shares, into the output row under way (and the
// next, for a row split between them): a plain add over the row that
// vectorises. An output row is reduced across once, when done. Column sums
// stay under 255 × 16,384 (32 bits), pixel sums under 255 × 64 M (64
// bits), so the means are exact, rounded to nearest.
class ReducingSink : public RowSink {
 public:
  ReducingSink(std::size_t inW, std::size_t inH, std::size_t outW, std::size_t outH)
      : bytes_(std::make_shared<CFData>(outW * outH * 4)), inW_(inW), inH_(inH), outW_(outW), outH_(outH),
        current_(inW * 4), next_(inW * 4) {
    for (std::size_t j = 0; j < outW; ++j) {
      const std::size_t from = j * inW, to = from + inW;
      Column c{(from + outW - 1) / outW, to / outW, 0, 0};
      c.headShare = c.begin * outW - from;
      c.tailShare = to - c.end * outW;
      columns_.push_back(c);
    }
  }

  void row(std::size_t y, const std::uint8_t* rgba) override {
    const std::size_t from = y * outH_, to = from + outH_, first = from / inH_;
    const auto share = std::uint32_t(std::min(to, (first + 1) * inH_) - from), rest = std::uint32_t(outH_) - share;
    std::uint32_t* current = current_.data();
    for (std::size_t k = 0; k < current_.size(); ++k) current[k] += rgba[k] * share;
    if (rest) {
      std::uint32_t* next = next_.data();
      for (std::size_t k = 0; k < next_.size(); ++k) next[k] += rgba[k] * rest;
    }
    if (to < (first + 1) * inH_) return;
    // Output row `first` is done.
    const std::uint64_t area = std::uint64_t(inW_) * inH_;
    std::uint8_t* out = bytes_->data() + first * outW_ * 4;
    for (const Column& c : columns_) {
      std::uint64_t sums[4] = {0, 0, 0, 0};
      for (const std::uint32_t* p = current + c.begin * 4; p != current + c.end * 4; p += 4)
        for (int k = 0; k < 4; ++k) sums[k] += p[k];
      for (std::size_t k = 0; k < 4; ++k) {
        std::uint64_t sum = sums[k] * outW_;
        if (c.headShare) sum += c.headShare * std::uint64_t(current[(c.begin - 1) * 4 + k]);
        if (c.tailShare) sum += c.tailShare * std::uint64_t(current[c.end * 4 + k]);
        *out++ = std::uint8_t((sum + area / 2) / area);
      }
    }
    std::swap(current_, next_);
    std::fill(next_.begin(), next_.end(), 0);
  }

  std::shared_ptr<CFData> bytes_;

 private:
  struct Column {
    std::size_t begin, end;             // the whole source pixels [begin, end)
    std::size_t headShare, tailShare;  // of pixels begin − 1 and end
  };

  std::size_t inW_, inH_, outW_, outH_;
  std::vector<Column> columns_;
  std::vector<std::uint32_t> current_, next_;  // the open output rows' column sums
};

CGImageRef imageOf(std::shared_ptr<CFData> bytes, std::size_t w, std::size_t h) {
  return CGImageCreate(w, h, 8, 32, w * 4, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedLast,
                       CGDataProviderCreateWithCFData(std::move(bytes)), nullptr, false, kCGRenderingIntentDefault);
}

// The source's picture at out-width × out-height (its own size or smaller).
CGImageRef decodeAt(const CGImageSourceRef& source, std::size_t outW, std::size_t outH) {
  const std::size_t w = source->pixelsWide(), h = source->pixelsHigh();
  FilePtr file(std::fopen(source->path().c_str(), "rb"));
  if (!file) return nullptr;
  if (outW == w && outH == h) {
    PictureSink sink(w * h * 4);
    return decodePNG(file.get(), w, h, sink) ? imageOf(std::move(sink.bytes_), w, h) : nullptr;
  }
  ReducingSink sink(w, h, outW, outH);
  return decodePNG(file.get(), w, h, sink) ? imageOf(std::move(sink.bytes_), outW, outH) : nullptr;
}

bool decodable(const CGImageSourceRef& source, std::size_t index) {
  // Bounded by the header before a byte is decoded.
  return source && index == 0 && source->type() == "public.png" &&
         imageSizeIsReadable(source->pixelsWide(), source->pixelsHigh());
}

}  // namespace

bool imageSizeIsReadable(std::size_t width, std::size_t height) {
  return width > 0 && height > 0 && width <= kMaximumImageSide && height <= kMaximumImageSide &&
         width * height <= kMaximumImagePixels;
}

CGImageSourceRef CGImageSourceCreateWithURL(const NSURL& url) {
  if (!url.isFileURL()) return nullptr;
  const auto path = resolveFilePath(url.path());
  if (path.empty()) return nullptr;
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) return nullptr;
  unsigned char head[24] = {};
  const std::size_t got = std::fread(head, 1, sizeof head, file.get());
  std::string type;
  std::size_t width = 0, height = 0;
  identify(head, got, type, width, height);
  return std::make_shared<const CGImageSource>(path.string(), type, width, height);
}

std::string CGImageSourceGetType(const CGImageSourceRef& source) { return source ? source->type() : std::string(); }

CGImageRef CGImageSourceCreateImageAtIndex(const CGImageSourceRef& source, std::size_t index) {
  if (!decodable(source, index)) return nullptr;
  return decodeAt(source, source->pixelsWide(), source->pixelsHigh());
}

CGImageRef CGImageSourceCreateThumbnailAtIndex(const CGImageSourceRef& source, std::size_t index,
                                               const CGImageSourceThumbnailOptions& options) {
  if (!decodable(source, index) || !options.createThumbnailFromImageAlways) return nullptr;
  const std::size_t w = source->pixelsWide(), h = source->pixelsHigh(), longer = std::max(w, h);
  if (options.maxPixelSize == 0 || options.maxPixelSize >= longer) return decodeAt(source, w, h);
  const std::size_t n = options.maxPixelSize;
  const auto shorter = [&](std::size_t side) { return std::max<std::size_t>(1, (side * n + longer / 2) / longer); };
  return w >= h ? decodeAt(source, n, shorter(h)) : decodeAt(source, shorter(w), n);
}

}  // namespace platform
