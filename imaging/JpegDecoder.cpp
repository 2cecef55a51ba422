// libjpeg decompression into RGB rows. Every libjpeg call, and the setjmp that catches its fatal
// errors, stays in RunDecompression, which holds no object with a destructor: a longjmp out of
// libjpeg must not skip one. C++ work happens in callbacks that never let an exception through.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

#include "core/Errors.h"
#include "imaging/CaptureTime.h"
#include "imaging/JpegDecoder.h"

namespace swelox {
namespace {

// The inverse DCT of every decode; DecoderIdct() names it.
constexpr J_DCT_METHOD kIdct = JDCT_FLOAT;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  // libjpeg's own formatter, kept to explain an error after the decode has ended; messages are
  // otherwise never formatted, so that warnings cost nothing.
  void (*standardFormat)(j_common_ptr, char*);
  // libjpeg's first warning (data it found corrupt or missing and worked around), as text.
  bool warned;
  char firstWarning[JMSG_LENGTH_MAX];
};

// The bytes for libjpeg: a file held in memory, handed over in blocks of 4096 bytes, or an open
// file read a block at a time into `buffer`, so that memory never grows with the file's size.
// Past the end it supplies an end-of-image marker, as a truncated file needs, after a warning that
// is discarded. A file that ends before its size (it shrank while read) ends the decoding.
struct Source {
  jpeg_source_mgr pub;
  const JOCTET* data;
  size_t size;
  size_t offset;
  PictureFile* file;
  JOCTET* buffer;
  size_t delivered;
  bool readFailed;
};

constexpr size_t kSourceBlock = 4096;
constexpr size_t kFileBlock = 64 * 1024;
const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

enum class Outcome {
  Done,
  LibjpegError,
  ReadError,
  Unsupported,
  TooManyScans,
  TooMuchScanWork,
  StopRequested,
  Stopped,
  RegionOutside
};

// The output rows firstRow .. endRow - 1 reach the sink, each from `column` on for `width` pixels
// (columns of libjpeg's output row, which a crop may have narrowed).
struct Delivery {
  JDIMENSION column;
  JDIMENSION width;
  JDIMENSION firstRow;
  JDIMENSION endRow;
};

struct Decompression {
  jpeg_decompress_struct cinfo;
  ErrorManager errors;
  Source source;
  bool created;
  // Both return false to stop decoding.
  bool (*begin)(void* context, j_decompress_ptr cinfo);
  bool (*rows)(void* context, j_decompress_ptr cinfo, JSAMPARRAY rows, JDIMENSION first,
               JDIMENSION count);
  void* context;
  const PixelRegion* region;  // null for the whole picture
  Delivery delivery;
  bool padded;  // colour output as RGBX
  jpeg_progress_mgr progress;
  bool tooManyScans;
  bool tooMuchScanWork;
  int countedScans;             // the scans whose blocks scanBlocks holds
  uint64_t scanBlocks;          // the blocks that the scans so far pass over
  const std::stop_token* stop;  // null: never asked to stop
  bool stopRequested;
  // Takes the picture's share of the memory budget; false to stop decoding.
  bool (*reserve)(void* context, size_t bytes);
  void* reserveContext;
  bool keepExif;  // keep the first APP1 segment that holds EXIF data
  // Its payload, in libjpeg's image pool, and its length; exifLength is 0 until one is kept.
  const JOCTET* exif;
  size_t exifLength;
  bool reserveFailed;  // the budget could not be taken for it
  bool headerOnly;     // stop once the header is read, before any scan
  DecodeNotes* notes;
  bool notesFailed;
};

// Ends decoding from inside libjpeg, as its own errors do, once a file has more scans than
// kMaxJpegScans: each scan of a progressive file is a pass over the coefficients of the whole
// picture, so a few bytes a scan could keep a small file decoding for hours.
void LimitScans(j_common_ptr common) {
  auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
  if (cinfo->input_scan_number <= kMaxJpegScans) return;
  static_cast<Decompression*>(cinfo->client_data)->tooManyScans = true;
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// The same for the work of the scans: as each scan begins (libjpeg calls the monitor before it
// reads any of its data), the blocks it covers are added up; decoding ends before a scan that
// would take them past ScanBlockLimit. A scan with almost no data costs little per block, but
// many of them over a large picture cost many times its decode.
void LimitScanWork(j_common_ptr common) {
  auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
  auto* d = static_cast<Decompression*>(cinfo->client_data);
  if (cinfo->input_scan_number == d->countedScans) return;
  d->countedScans = cinfo->input_scan_number;
  uint64_t pictureBlocks = 0;
  for (int k = 0; k < cinfo->num_components; ++k) {
    pictureBlocks +=
        uint64_t{cinfo->comp_info[k].width_in_blocks} * cinfo->comp_info[k].height_in_blocks;
  }
  for (int k = 0; k < cinfo->comps_in_scan; ++k) {
    d->scanBlocks += uint64_t{cinfo->cur_comp_info[k]->width_in_blocks} *
                     cinfo->cur_comp_info[k]->height_in_blocks;
  }
  if (d->scanBlocks <= ScanBlockLimit(pictureBlocks)) return;
  d->tooMuchScanWork = true;
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Ends decoding as soon as the caller asks for it. libjpeg calls the monitor for every row group
// it reads and for every band of rows a scan takes in, so a stop takes effect well within a
// tenth of a second even in a picture of gigapixels.
void StopIfRequested(j_common_ptr common) {
  auto* d = static_cast<Decompression*>(common->client_data);
  if (d->stop == nullptr || !d->stop->stop_requested()) return;
  d->stopRequested = true;
  std::longjmp(reinterpret_cast<ErrorManager*>(common->err)->jump, 1);
}

void MonitorProgress(j_common_ptr common) {
  StopIfRequested(common);
  LimitScans(common);
  LimitScanWork(common);
}

void ErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}
// Traces are dropped; the first warning is kept as text, which costs nothing for a sound file.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (!errors->warned) errors->standardFormat(cinfo, errors->firstWarning);
  errors->warned = true;
  ++cinfo->err->num_warnings;
}
void OutputMessage(j_common_ptr) {}
void FormatMessage(j_common_ptr, char* buffer) { buffer[0] = '\0'; }
void ResetErrorManager(j_common_ptr cinfo) {
  cinfo->err->msg_code = 0;
  cinfo->err->num_warnings = 0;
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<Source*>(cinfo->src);
  const JOCTET* block;
  size_t n;
  if (src->file != nullptr) {
    const ssize_t count = src->file->ReadNext(src->buffer, kFileBlock);
    if (count < 0) {
      src->readFailed = true;
      ERREXIT(cinfo, JERR_FILE_READ);
    }
    block = src->buffer;
    n = static_cast<size_t>(count);
  } else {
    block = src->data + src->offset;
    n = std::min(kSourceBlock, src->size - src->offset);
    src->offset += n;
  }
  if (n == 0) {
    if (src->delivered == 0) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->pub.next_input_byte = kEndOfImage;
    src->pub.bytes_in_buffer = sizeof kEndOfImage;
    return TRUE;
  }
  src->pub.next_input_byte = block;
  src->pub.bytes_in_buffer = n;
  src->delivered += n;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<Source*>(cinfo->src);
  if (count <= 0) return;
  size_t remaining = static_cast<size_t>(count);
  while (remaining > src->pub.bytes_in_buffer) {
    remaining -= src->pub.bytes_in_buffer;
    src->pub.bytes_in_buffer = 0;
    FillInputBuffer(cinfo);
    if (src->pub.next_input_byte == kEndOfImage) return;  // nothing left to skip over
  }
  src->pub.next_input_byte += remaining;
  src->pub.bytes_in_buffer -= remaining;
}

// Rows for libjpeg to write into. libjpeg-turbo's colour converters write an aligned row with
// non-temporal stores, which send it past the cache just before we read it; a row that starts
// 4 bytes short of an alignment gets ordinary stores, and its column 1 (where the grid starts)
// is then the aligned one.
JSAMPARRAY OutputRows(j_decompress_ptr cinfo) {
  const size_t stride =
      (static_cast<size_t>(cinfo->output_width) * cinfo->output_components + 127) / 64 * 64;
  const int count = cinfo->rec_outbuf_height;
  auto* pointers = static_cast<JSAMPARRAY>((*cinfo->mem->alloc_small)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, sizeof(JSAMPROW) * count));
  auto* block = static_cast<JSAMPLE*>((*cinfo->mem->alloc_large)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, stride * count + 64));
  const uintptr_t address = reinterpret_cast<uintptr_t>(block);
  JSAMPLE* first = block + ((64 - address % 64) % 64) + 60;
  for (int k = 0; k < count; ++k) pointers[k] = first + stride * k;
  return pointers;
}

// What libjpeg takes for the picture, known once the header is read: with several scans the
// coefficients of the whole picture (a block of 64 for each 8 x 8 pixels of every component,
// padded to whole MCUs), and in any case some rows of samples as wide as the picture. The segment
// kept for its EXIF data was taken from the budget as it was read.
size_t DecodeMemoryNeed(j_decompress_ptr cinfo) {
  constexpr uint64_t kRowBytes = 64 * 4;
  uint64_t bytes = uint64_t{cinfo->image_width} * kRowBytes;
  if (jpeg_has_multiple_scans(cinfo)) {
    auto roundUp = [](uint64_t n, uint64_t step) { return (n + step - 1) / step * step; };
    for (int k = 0; k < cinfo->num_components; ++k) {
      const jpeg_component_info& c = cinfo->comp_info[k];
      bytes += roundUp(c.width_in_blocks, c.h_samp_factor) *
               roundUp(c.height_in_blocks, c.v_samp_factor) * sizeof(JBLOCK);
    }
  }
  return static_cast<size_t>(std::min<uint64_t>(bytes, SIZE_MAX));
}

// Decodes only what the region needs: libjpeg skips the rows above it (short of a margin) and
// leaves the columns outside it (beyond a margin) out of the inverse DCT. At a crop's sides and
// at the first row after a skip, fancy upsampling lacks its neighbouring chroma samples and
// libjpeg's pixels differ from the whole decode's; one iMCU of margin keeps them out of the region.
// Block smoothing, which a progressive file gets wherever its later scans are missing, also takes
// the coefficients of blocks up to two away, and a crop's side cuts those off: three iMCUs there.
void NarrowToRegion(Decompression* d) {
  j_decompress_ptr cinfo = &d->cinfo;
  d->delivery = {0, cinfo->output_width, 0, cinfo->output_height};
  if (d->region == nullptr) return;
  const PixelRegion& r = *d->region;
  const auto x = static_cast<JDIMENSION>(r.x), y = static_cast<JDIMENSION>(r.y);
  d->delivery = {x, static_cast<JDIMENSION>(r.width), y, y + static_cast<JDIMENSION>(r.height)};
  // Floyd-Steinberg dither carries each grey pixel's error along its row and into the next one,
  // so a grey pixel depends on every pixel decoded before it: those are decoded whole.
  if (cinfo->quantize_colors) return;

  const JDIMENSION reach = jpeg_has_multiple_scans(cinfo) ? 3 : 1;
  const JDIMENSION columnMargin =
      reach * static_cast<JDIMENSION>(cinfo->max_h_samp_factor) * DCTSIZE;
  const JDIMENSION rowMargin = reach * static_cast<JDIMENSION>(cinfo->max_v_samp_factor) * DCTSIZE;
  JDIMENSION left = x > columnMargin ? x - columnMargin : 0;
  const JDIMENSION right = std::min<JDIMENSION>(
      cinfo->output_width, d->delivery.column + d->delivery.width + columnMargin);
  JDIMENSION cropWidth = right - left;
  if (cropWidth < cinfo->output_width) {
    jpeg_crop_scanline(cinfo, &left, &cropWidth);  // widens the crop to whole iMCU columns
    d->delivery.column = x - left;
  }
  if (y > rowMargin) jpeg_skip_scanlines(cinfo, y - rowMargin);
}

JOCTET NextByte(j_decompress_ptr cinfo) {
  jpeg_source_mgr* src = cinfo->src;
  if (src->bytes_in_buffer == 0) (*src->fill_input_buffer)(cinfo);  // never suspends
  --src->bytes_in_buffer;
  return *src->next_input_byte++;
}

// libjpeg's reader of APP1 segments while the capture time is wanted: the first segment that
// holds EXIF data is kept, every other one is skipped unread. So a file of thousands of APP1
// segments holds at most one segment of 64 KiB in memory, and that one is taken from the
// picture's share of the memory budget (and from libjpeg's limit) before it is allocated.
boolean KeepFirstExifSegment(j_decompress_ptr cinfo) {
  static constexpr JOCTET kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  auto* d = static_cast<Decompression*>(cinfo->client_data);
  const unsigned high = NextByte(cinfo);
  const long length = static_cast<long>(high << 8 | NextByte(cinfo)) - 2;
  if (length <= 0) return TRUE;
  JOCTET header[sizeof kExifHeader] = {};
  long read = 0;
  if (d->exifLength == 0) {
    while (read < length && read < static_cast<long>(sizeof header)) {
      header[read++] = NextByte(cinfo);
    }
  }
  if (read < static_cast<long>(sizeof header) ||
      !std::equal(kExifHeader, kExifHeader + sizeof kExifHeader, header)) {
    (*cinfo->src->skip_input_data)(cinfo, length - read);
    return TRUE;
  }
  const auto bytes = static_cast<size_t>(length);
  if (d->reserve != nullptr && !d->reserve(d->reserveContext, bytes)) {
    d->reserveFailed = true;
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
  }
  cinfo->mem->max_memory_to_use -= length;
  auto* kept = static_cast<JOCTET*>(
      (*cinfo->mem->alloc_large)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, bytes));
  std::copy(header, header + sizeof header, kept);
  for (size_t k = sizeof header; k < bytes; ++k) kept[k] = NextByte(cinfo);
  d->exif = kept;
  d->exifLength = bytes;
  return TRUE;
}

// Reads the capture time while the kept segment exists: the end of the decode frees it.
void NoteCaptureTime(Decompression* d) noexcept {
  try {
    d->notes->captureTime = CaptureTimeFromExif({d->exif, d->exifLength});
  } catch (...) {
    d->notesFailed = true;  // no memory even for that
  }
}

Outcome RunDecompression(Decompression* d) {
  j_decompress_ptr cinfo = &d->cinfo;
  cinfo->err = jpeg_std_error(&d->errors.pub);
  d->errors.standardFormat = d->errors.pub.format_message;
  d->errors.pub.error_exit = ErrorExit;
  d->errors.pub.emit_message = EmitMessage;
  d->errors.pub.output_message = OutputMessage;
  d->errors.pub.format_message = FormatMessage;
  d->errors.pub.reset_error_mgr = ResetErrorManager;
  if (setjmp(d->errors.jump)) {
    if (d->stopRequested) return Outcome::StopRequested;
    if (d->reserveFailed) return Outcome::Stopped;
    if (d->source.readFailed) return Outcome::ReadError;
    if (d->tooManyScans) return Outcome::TooManyScans;
    return d->tooMuchScanWork ? Outcome::TooMuchScanWork : Outcome::LibjpegError;
  }

  jpeg_create_decompress(cinfo);
  d->created = true;
  cinfo->mem->max_memory_to_use = kLibjpegMemoryLimit;
  cinfo->client_data = d;
  d->progress.progress_monitor = MonitorProgress;
  cinfo->progress = &d->progress;

  cinfo->src = &d->source.pub;
  d->source.pub.init_source = InitSource;
  d->source.pub.fill_input_buffer = FillInputBuffer;
  d->source.pub.skip_input_data = SkipInputData;
  d->source.pub.resync_to_restart = jpeg_resync_to_restart;
  d->source.pub.term_source = TermSource;
  d->source.pub.bytes_in_buffer = 0;
  d->source.pub.next_input_byte = nullptr;

  if (d->keepExif) jpeg_set_marker_processor(cinfo, JPEG_APP0 + 1, KeepFirstExifSegment);
  jpeg_read_header(cinfo, TRUE);
  if (d->keepExif) NoteCaptureTime(d);
  if (d->headerOnly) return Outcome::Done;
  cinfo->scale_num = 1;
  cinfo->scale_denom = 1;
  cinfo->dct_method = kIdct;
  cinfo->do_fancy_upsampling = TRUE;
  cinfo->do_block_smoothing = TRUE;
  cinfo->buffered_image = FALSE;
  switch (cinfo->out_color_space) {
    case JCS_GRAYSCALE:
      cinfo->quantize_colors = TRUE;
      cinfo->desired_number_of_colors = 236;
      break;
    case JCS_RGB:
      // The same samples as RGB, laid out four bytes a pixel.
      if (d->padded) cinfo->out_color_space = JCS_EXT_RGBX;
      break;
    case JCS_CMYK:
      break;
    default:
      return Outcome::Unsupported;
  }

  if (d->region != nullptr && !d->region->Inside(cinfo->image_width, cinfo->image_height)) {
    return Outcome::RegionOutside;
  }

  if (!d->reserve(d->reserveContext, DecodeMemoryNeed(cinfo))) return Outcome::Stopped;
  jpeg_start_decompress(cinfo);
  NarrowToRegion(d);
  if (!d->begin(d->context, cinfo)) return Outcome::Stopped;
  JSAMPARRAY rows = OutputRows(cinfo);
  while (cinfo->output_scanline < d->delivery.endRow) {
    const JDIMENSION first = cinfo->output_scanline;
    const JDIMENSION count = jpeg_read_scanlines(cinfo, rows, cinfo->rec_outbuf_height);
    if (!d->rows(d->context, cinfo, rows, first, count)) return Outcome::Stopped;
  }
  // Rows below a region are never decoded; the destruction of the object ends the decode.
  if (cinfo->output_scanline < cinfo->output_height) return Outcome::Done;
  jpeg_finish_decompress(cinfo);
  return Outcome::Done;
}

// Owns the decompression object: it is destroyed whatever way decoding ends.
class Decompressor {
 public:
  explicit Decompressor(std::span<const uint8_t> data) : d_{} {
    d_.source.data = data.data();
    d_.source.size = data.size();
  }
  explicit Decompressor(PictureFile& file) : d_{}, buffer_(kFileBlock) {
    d_.source.file = &file;
    d_.source.buffer = buffer_.data();
  }
  ~Decompressor() {
    if (d_.created) jpeg_destroy_decompress(&d_.cinfo);
  }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;
  Decompression& get() { return d_; }

 private:
  Decompression d_;
  std::vector<JOCTET> buffer_;
};

// The picture's share of the memory budget, held until the decompression is destroyed.
class BudgetHook {
 public:
  explicit BudgetHook(MemoryBudget& budget) : reservation_(budget) {}

  static bool Reserve(void* self, size_t bytes) noexcept {
    auto* hook = static_cast<BudgetHook*>(self);
    try {
      hook->reservation_.Take(bytes);
      return true;
    } catch (...) {
      hook->failure_ = std::current_exception();
      return false;
    }
  }
  void RethrowIfFailed() const {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  MemoryReservation reservation_;
  std::exception_ptr failure_;
};

// Turns libjpeg's output rows into RGB rows for the sink.
class RowConverter {
 public:
  explicit RowConverter(RgbRowSink& sink) : sink_(sink), stride_(sink.BytesPerPixel()) {}

  static bool Begin(void* self, j_decompress_ptr cinfo) {
    return static_cast<RowConverter*>(self)->Guard([&](RowConverter& c) { c.Start(cinfo); });
  }
  static bool Rows(void* self, j_decompress_ptr cinfo, JSAMPARRAY rows, JDIMENSION first,
                   JDIMENSION count) {
    return static_cast<RowConverter*>(self)->Guard([&](RowConverter& c) {
      for (JDIMENSION k = 0; k < count; ++k) {
        if (first + k >= c.delivery_.firstRow && first + k < c.delivery_.endRow) {
          c.Deliver(cinfo, rows[k] + c.delivery_.column * cinfo->output_components);
        }
      }
    });
  }
  void RethrowIfFailed() const {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  template <typename Work>
  bool Guard(Work work) noexcept {
    try {
      work(*this);
      return true;
    } catch (...) {
      failure_ = std::current_exception();
      return false;
    }
  }

  void Start(j_decompress_ptr cinfo) {
    delivery_ = static_cast<Decompression*>(cinfo->client_data)->delivery;
    width_ = delivery_.width;
    const bool direct = (cinfo->out_color_space == JCS_RGB && stride_ == 3) ||
                        cinfo->out_color_space == JCS_EXT_RGBX;
    if (!direct) rgb_.assign(static_cast<size_t>(width_) * stride_, 0);
    if (cinfo->quantize_colors) {
      for (int i = 0; i < cinfo->actual_number_of_colors; ++i) grey_[i] = cinfo->colormap[0][i];
    }
    sink_.Begin(static_cast<int32_t>(delivery_.width),
                static_cast<int32_t>(delivery_.endRow - delivery_.firstRow));
  }

  void Deliver(j_decompress_ptr cinfo, const JSAMPLE* row) {
    if (rgb_.empty()) return sink_.Row(row);
    uint8_t* out = rgb_.data();
    if (cinfo->out_color_space == JCS_GRAYSCALE) {
      for (JDIMENSION x = 0; x < width_; ++x, out += stride_) {
        out[0] = out[1] = out[2] = grey_[row[x]];
      }
    } else {
      // libjpeg's CMYK is Adobe-inverted: each channel is the ink's complement, so the colour is
      // the product with the key, as viewers show it.
      for (JDIMENSION x = 0; x < width_; ++x, out += stride_, row += 4) {
        const unsigned k = row[3];
        out[0] = static_cast<uint8_t>((row[0] * k + 127) / 255);
        out[1] = static_cast<uint8_t>((row[1] * k + 127) / 255);
        out[2] = static_cast<uint8_t>((row[2] * k + 127) / 255);
      }
    }
    sink_.Row(rgb_.data());
  }

  RgbRowSink& sink_;
  const int stride_;
  Delivery delivery_ = {};
  JDIMENSION width_ = 0;
  std::vector<uint8_t> rgb_;
  uint8_t grey_[256] = {};
  std::exception_ptr failure_;
};

// libjpeg's text for the error that ended the decode, from its message table.
std::string LibjpegExplanation(Decompression& d) {
  char text[JMSG_LENGTH_MAX] = {};
  d.errors.standardFormat(reinterpret_cast<j_common_ptr>(&d.cinfo), text);
  return text;
}

DecodeNotes Decode(Decompressor& decompressor, BudgetHook& budget, RgbRowSink& sink,
                   const DecodeRequest& request) {
  RowConverter converter(sink);
  DecodeNotes notes;
  const bool knownTime = request.wantCaptureTime && request.knownCaptureTime.read;
  if (knownTime) notes.captureTime = request.knownCaptureTime.time;
  Decompression& d = decompressor.get();
  d.begin = RowConverter::Begin;
  d.rows = RowConverter::Rows;
  d.context = &converter;
  d.padded = sink.BytesPerPixel() == 4;
  d.reserve = BudgetHook::Reserve;
  d.reserveContext = &budget;
  d.region = request.region ? &*request.region : nullptr;
  d.stop = request.stop.stop_possible() ? &request.stop : nullptr;
  d.keepExif = request.wantCaptureTime && !knownTime;
  d.notes = &notes;

  switch (RunDecompression(&d)) {
    case Outcome::Done:
      if (d.notesFailed) throw OutOfMemoryError();
      if (d.errors.warned) notes.warning = d.errors.firstWarning;
      return notes;
    case Outcome::StopRequested:
      throw DecodeStopped();
    case Outcome::Stopped:
      budget.RethrowIfFailed();
      converter.RethrowIfFailed();
      return notes;
    case Outcome::ReadError:
      throw Error(ErrorKind::InputOutput, kStreamReadError);
    case Outcome::Unsupported:
      throw Error(ErrorKind::Decode, "JPEG files with " + std::to_string(d.cinfo.num_components) +
                                         " colour components are not supported");
    case Outcome::TooManyScans:
      throw Error(ErrorKind::Decode, "JPEG files with more than " + std::to_string(kMaxJpegScans) +
                                         " scans are not supported");
    case Outcome::TooMuchScanWork:
      throw Error(ErrorKind::Decode, "JPEG files whose scans pass over the picture more than " +
                                         std::to_string(kMaxScanPasses) +
                                         " times are not supported");
    case Outcome::RegionOutside:
      throw Error(ErrorKind::Decode,
                  d.region->OutsideMessage(d.cinfo.image_width, d.cinfo.image_height));
    case Outcome::LibjpegError:
      if (d.errors.pub.msg_code == JERR_OUT_OF_MEMORY) throw OutOfMemoryError();
      throw Error(ErrorKind::Decode, "JPEG error #" + std::to_string(d.errors.pub.msg_code),
                  ErrorScope::File, LibjpegExplanation(d));
  }
  throw std::logic_error("an outcome of decoding that is not handled");
}

}  // namespace

std::string DecoderLibrary() {
  std::string text;
#ifdef LIBJPEG_TURBO_VERSION_NUMBER
  constexpr int kNumber = LIBJPEG_TURBO_VERSION_NUMBER;  // 2001005 for 2.1.5
  text = "libjpeg-turbo " + std::to_string(kNumber / 1000000) + "." +
         std::to_string(kNumber / 1000 % 1000) + "." + std::to_string(kNumber % 1000) + ", ";
#endif
  return text + "libjpeg API " + std::to_string(JPEG_LIB_VERSION);
}

const char* DecoderIdct() {
  static_assert(kIdct == JDCT_FLOAT);
  return "JDCT_FLOAT";
}

DecodeNotes DecodeJpeg(std::span<const uint8_t> data, RgbRowSink& sink,
                       const DecodeRequest& request) {
  BudgetHook hook(request.budget);  // outlives the decompression, whose memory it accounts for
  Decompressor decompressor(data);
  return Decode(decompressor, hook, sink, request);
}

DecodeNotes DecodeJpeg(PictureFile& file, RgbRowSink& sink, const DecodeRequest& request) {
  BudgetHook hook(request.budget);
  Decompressor decompressor(file);
  return Decode(decompressor, hook, sink, request);
}

std::optional<CaptureTime> ReadCaptureTime(PictureFile& file) {
  return ReadKnownCaptureTime(file).time;
}

KnownCaptureTime ReadKnownCaptureTime(PictureFile& file) {
  BudgetHook hook(MemoryBudget::Process());  // for the segment kept
  Decompressor decompressor(file);
  Decompression& d = decompressor.get();
  DecodeNotes notes;
  d.reserve = BudgetHook::Reserve;
  d.reserveContext = &hook;
  d.keepExif = true;
  d.headerOnly = true;
  d.notes = &notes;
  if (RunDecompression(&d) != Outcome::Done) return {};
  if (d.notesFailed) throw std::bad_alloc();
  return {true, std::move(notes.captureTime)};
}

}  // namespace swelox
