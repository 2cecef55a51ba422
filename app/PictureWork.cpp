// The worker thread of the picture view.
#include "app/PictureWork.h"

#include <emmintrin.h>

#include <QFile>
#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "core/Errors.h"
#include "core/Extended.h"
#include "imaging/FileReading.h"
#include "imaging/MemoryBudget.h"

namespace swelox::ui {
namespace {

std::string Refusal(int64_t width, int64_t height, uint64_t need, uint64_t budget) {
  return QStringLiteral(
             "The photo is %1 x %2 pixels: the view would need %3 for it, more than the %4 that "
             "a decode may take. It is not decoded.")
      .arg(width)
      .arg(height)
      .arg(QString::fromStdString(Mebibytes(need)), QString::fromStdString(Mebibytes(budget)))
      .toStdString();
}

// The decoder's red, green, blue and pad bytes as Qt's opaque 0xffRRGGBB words, four at a time.
void ToRgb32(const uint8_t* rgbx, QRgb* out, int32_t width) {
  const __m128i low = _mm_set1_epi32(0xFF), green = _mm_set1_epi32(0xFF00);
  const __m128i opaque = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
  int32_t x = 0;
  for (; x + 4 <= width; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgbx + 4 * x));
    const __m128i red = _mm_slli_epi32(_mm_and_si128(v, low), 16);
    const __m128i blue = _mm_and_si128(_mm_srli_epi32(v, 16), low);
    const __m128i word =
        _mm_or_si128(_mm_or_si128(red, blue), _mm_or_si128(_mm_and_si128(v, green), opaque));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), word);
  }
  for (; x < width; ++x) out[x] = qRgb(rgbx[4 * x], rgbx[4 * x + 1], rgbx[4 * x + 2]);
}

// The threads that lay a lattice: two where the machine has them.
int32_t LayingThreads() { return std::thread::hardware_concurrency() >= 2 ? 2 : 1; }

// The brightness as the analysis forms it, the colours, the overview and the lattice asked for,
// row by row; the size is checked against the budget before anything as large as the picture is
// allocated. The decoder's thread only copies each row into the colour image as it comes; a
// second thread follows it there and forms the rest, so that the work after the decode is done
// while libjpeg decodes the rows below. Every row goes through the same steps in the same order
// as on one thread.
class PhotoSink : public RgbRowSink {
 public:
  using Progress = std::function<void(double)>;
  // `spare`, when not null, is a photo no longer shown whose memory the new one may take over.
  PhotoSink(DecodedPhoto& photo, DecodedPhoto* spare, uint64_t budget, const MapRequest& request,
            std::stop_token stop, Progress progress)
      : photo_(photo),
        brightness_(photo.brightness),
        spare_(spare),
        budget_(budget),
        request_(request),
        overviewLimit_(request.overviewLimit.expandedTo(QSize(1, 1))),
        stop_(std::move(stop)),
        progress_(std::move(progress)) {}

  ~PhotoSink() override { EndFollowing(true); }
  PhotoSink(const PhotoSink&) = delete;
  PhotoSink& operator=(const PhotoSink&) = delete;

  int BytesPerPixel() const override { return 4; }

  void Begin(int32_t width, int32_t height) override {
    const uint64_t need = PhotoMemoryNeed(width, height);
    if (need > budget_) {
      throw Error(ErrorKind::OutOfMemory, Refusal(width, height, need, budget_));
    }
    // Fresh pages cost the kernel more than the decode of the rows written into them.
    if (spare_ != nullptr) photo_.brightness.values = std::move(spare_->brightness.values);
    brightness_.Begin(width, height);
    photo_.colour = Reused(spare_ ? &spare_->colour : nullptr, width, height);
    colour_ = photo_.colour.bits();  // detached now: the rows are written through it alone
    stride_ = size_t(photo_.colour.bytesPerLine());
    height_ = height;
    // The overview takes whole blocks of step x step pixels, as few as keep it within the limit;
    // a block of at most 16 x 16 sums into 16 bits.
    auto steps = [](int32_t side, int limit) { return (side + limit - 1) / limit; };
    step_ = std::clamp(
        std::max(steps(width, overviewLimit_.width()), steps(height, overviewLimit_.height())), 1,
        16);
    if (step_ > 1) {
      photo_.overview = Reused(spare_ ? &spare_->overview : nullptr, width / step_, height / step_);
      sums_.assign(size_t(photo_.overview.width()) * 4, 0);
    }
    if (request_.size) {
      try {
        layer_ = std::make_unique<NoiseMapLayer>(width, height, request_.region, *request_.size,
                                                 request_.direction, request_.CellLimit());
      } catch (...) {
        // Laid after the decode, which tells the map's problem.
      }
    }
    follower_ = std::jthread([this] { Follow(); });
  }

  void Row(const uint8_t* pixels) override {
    if (stop_.stop_requested()) throw DecodeStopped{};
    const int32_t y = rowsDecoded_;
    std::memcpy(colour_ + size_t(y) * stride_, pixels, size_t(photo_.colour.width()) * 4);
    {
      std::lock_guard lock(mutex_);
      if (failure_) std::rethrow_exception(failure_);
      rowsDecoded_ = y + 1;
      // The follower takes rows in batches, so that it is not woken for each one.
      if (following_ && rowsDecoded_ - rowsFollowed_ >= kBatch) wake_.notify_one();
    }
    if ((y & 31) == 0) progress_(double(y) / height_);
  }

  // Once the decode has ended: waits for the follower to finish the last rows. Raises what it
  // raised. The map laid along, when it was asked for and could be, is then in layer().
  void Finish() {
    EndFollowing(false);
    if (failure_) std::rethrow_exception(failure_);
  }
  std::unique_ptr<NoiseMapLayer>& layer() { return layer_; }

 private:
  static constexpr int32_t kBatch = 16;

  static QImage Reused(QImage* spare, int32_t width, int32_t height) {
    QImage image;
    if (spare != nullptr && spare->size() == QSize(width, height)) std::swap(image, *spare);
    if (image.isNull()) image = QImage(width, height, QImage::Format_RGB32);
    if (image.isNull()) throw std::bad_alloc();
    return image;
  }

  // With `abandon`, the rows not yet followed are left: the decode failed or was stopped.
  void EndFollowing(bool abandon) {
    if (!follower_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
      abandoned_ = abandon;
      wake_.notify_one();
    }
    follower_.join();
  }

  // The second thread: each decoded row's brightness, overview and Qt colour words, then the
  // lattice over the rows done.
  void Follow() {
    try {
      UseExtendedPrecision();
      int32_t done = 0;
      for (;;) {
        int32_t ready;
        bool last;
        {
          std::unique_lock lock(mutex_);
          following_ = true;
          wake_.wait(lock, [&] { return ended_ || rowsDecoded_ - done >= kBatch; });
          following_ = false;
          ready = rowsDecoded_;
          last = ended_;
          rowsFollowed_ = ready;
          if (abandoned_) return;
        }
        if (stop_.stop_requested()) return;
        for (; done < ready; ++done) {
          uint8_t* row = colour_ + size_t(done) * stride_;
          brightness_.Row(row);
          if (step_ > 1) AddToOverview(row, done);
          ToRgb32(row, reinterpret_cast<QRgb*>(row), photo_.colour.width());
        }
        if (layer_ && !layer_->Advance(photo_.brightness, done, stop_)) layer_.reset();
        if (last) return;
      }
    } catch (...) {
      std::lock_guard lock(mutex_);
      failure_ = std::current_exception();
    }
  }

  // Each overview pixel sums its block's red, green, blue and pad bytes in four 16-bit lanes.
  void AddToOverview(const uint8_t* pixels, int32_t y) {
    QImage& overview = photo_.overview;
    if (y / step_ >= overview.height()) return;
    const __m128i zero = _mm_setzero_si128();
    uint16_t* sum = sums_.data();
    for (int32_t x = 0; x < overview.width(); ++x, sum += 4) {
      __m128i lanes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sum));
      for (int32_t k = 0; k < step_; ++k, pixels += 4) {
        int32_t pixel;
        std::memcpy(&pixel, pixels, sizeof pixel);
        lanes = _mm_add_epi16(lanes, _mm_unpacklo_epi8(_mm_cvtsi32_si128(pixel), zero));
      }
      _mm_storel_epi64(reinterpret_cast<__m128i*>(sum), lanes);
    }
    if ((y + 1) % step_ != 0) return;
    auto* out = reinterpret_cast<QRgb*>(overview.scanLine(y / step_));
    // The mean by a multiplication: within a level of the exact one, which the eye cannot tell.
    const uint32_t area = uint32_t(step_) * uint32_t(step_);
    const uint32_t reciprocal = (65536u + area / 2) / area;
    auto mean = [reciprocal](uint16_t total) {
      return std::min(int((total * reciprocal + 32768u) >> 16), 255);
    };
    sum = sums_.data();
    for (int32_t x = 0; x < overview.width(); ++x, sum += 4) {
      out[x] = qRgb(mean(sum[0]), mean(sum[1]), mean(sum[2]));
    }
    std::fill(sums_.begin(), sums_.end(), uint16_t{0});
  }

  DecodedPhoto& photo_;
  BrightnessCollector brightness_;  // the follower's
  DecodedPhoto* spare_;
  const uint64_t budget_;
  const MapRequest& request_;
  const QSize overviewLimit_;
  std::stop_token stop_;
  Progress progress_;
  uint8_t* colour_ = nullptr;
  size_t stride_ = 0;
  int32_t height_ = 1;
  int32_t step_ = 1;
  std::vector<uint16_t> sums_;  // of the overview row being formed: four lanes per pixel
  std::unique_ptr<NoiseMapLayer> layer_;

  std::mutex mutex_;  // over what follows
  std::condition_variable wake_;
  int32_t rowsDecoded_ = 0;
  int32_t rowsFollowed_ = 0;  // the rows the follower has taken
  bool following_ = false;    // the follower waits for rows
  bool ended_ = false;        // no more rows come
  bool abandoned_ = false;    // nor are the rows still to follow wanted
  std::exception_ptr failure_;
  std::jthread follower_;  // last: it ends before what it uses
};

bool SameRegion(const std::optional<PixelRegion>& a, const std::optional<PixelRegion>& b) {
  return a.has_value() == b.has_value() && (!a || *a == *b);
}

}  // namespace

bool MapRequest::SameMap(const MapRequest& other) const {
  const bool sameSize =
      size.has_value() == other.size.has_value() &&
      (!size || (size->width == other.size->width && size->height == other.size->height));
  return path == other.path && SameRegion(region, other.region) && sameSize && !problem &&
         !other.problem && direction == other.direction && CellLimit() == other.CellLimit();
}

uint64_t PhotoMemoryNeed(int64_t width, int64_t height) {
  return uint64_t(width) * uint64_t(height) * (1 + sizeof(QRgb));
}

PictureWork::PictureWork(uint64_t budget, QObject* parent)
    : QObject(parent), budget_(budget), thread_([this](std::stop_token quit) { Run(quit); }) {}

PictureWork::~PictureWork() {
  {
    std::lock_guard lock(mutex_);
    current_.request_stop();
  }
  thread_.request_stop();
  thread_.join();
}

template <typename Deliver>
void PictureWork::Post(Deliver deliver) {
  QMetaObject::invokeMethod(this, std::move(deliver), Qt::QueuedConnection);
}

void PictureWork::Request(MapRequest request) {
  std::lock_guard lock(mutex_);
  if (decoding_.isEmpty() || decoding_ != request.path) current_.request_stop();
  pending_ = std::move(request);
  pendingAhead_.reset();  // the view asks again once this one is shown
  pendingDetail_.reset();
  wake_.notify_one();
}

void PictureWork::Prepare(MapRequest ahead) {
  std::lock_guard lock(mutex_);
  pendingAhead_ = std::move(ahead);
  wake_.notify_one();
}

void PictureWork::RequestDetail(DetailRequest request) {
  std::lock_guard lock(mutex_);
  if (detailing_) current_.request_stop();
  pendingDetail_ = std::move(request);
  wake_.notify_one();
}

void PictureWork::Run(std::stop_token quit) {
  for (;;) {
    MapRequest request;
    std::stop_token stop;
    std::optional<Prepared> ready;  // the photo prepared ahead, now asked for
    {
      std::unique_lock lock(mutex_);
      if (!wake_.wait(lock, quit, [this] { return pending_ || pendingDetail_ || pendingAhead_; })) {
        return;
      }
      current_ = std::stop_source();
      stop = current_.get_token();
      if (!pending_ && pendingDetail_) {
        const DetailRequest detail = std::move(*pendingDetail_);
        pendingDetail_.reset();
        detailing_ = true;
        lock.unlock();
        LayDetail(detail, stop);
        lock.lock();
        detailing_ = false;
        continue;
      }
      if (!pending_) {
        const MapRequest ahead = std::move(*pendingAhead_);
        pendingAhead_.reset();
        decoding_ = ahead.path;
        lock.unlock();
        PrepareAhead(ahead, stop);
        lock.lock();
        decoding_.clear();
        continue;
      }
      request = std::move(*pending_);
      pending_.reset();
      if (!photo_ || photo_->path != request.path) {
        Recycle(std::move(photo_));
        photo_.reset();
        if (ahead_ && ahead_->photo->path == request.path) {
          ready = std::move(ahead_);
          ahead_.reset();
          photo_ = ready->photo;
        } else {
          decoding_ = request.path;
        }
      }
    }
    if (ready) {
      Post([this, photo = photo_] { Q_EMIT photoReady(photo); });
      if (ready->laid.request.SameMap(request)) {
        LaidMap laid = std::move(ready->laid);
        laid.request = request;
        Post([this, laid] { Q_EMIT mapReady(laid); });
        continue;
      }
    }
    std::unique_ptr<NoiseMapLayer> along;  // the map laid during the decode
    if (!photo_) {
      std::shared_ptr<const DecodedPhoto> photo = Decode(request, stop, true, &along);
      std::lock_guard lock(mutex_);
      decoding_.clear();
      if (!photo) continue;
      photo_ = std::move(photo);
      Post([this, photo = photo_] { Q_EMIT photoReady(photo); });
      // Newer settings for this photo, asked for during the decode, replace the first ones.
      if (pending_ && pending_->path == request.path) {
        request = std::move(*pending_);
        pending_.reset();
        along.reset();
        current_ = std::stop_source();
        stop = current_.get_token();
      }
    }
    if (std::optional<LaidMap> laid = Lay(request, *photo_, stop, along)) {
      Post([this, laid = std::move(*laid)] { Q_EMIT mapReady(laid); });
    }
  }
}

void PictureWork::PrepareAhead(const MapRequest& ahead, std::stop_token stop) {
  if ((photo_ && photo_->path == ahead.path) || (ahead_ && ahead_->laid.request.SameMap(ahead))) {
    return;  // shown already, or prepared
  }
  std::shared_ptr<const DecodedPhoto> photo;
  if (ahead_ && ahead_->photo->path == ahead.path) photo = ahead_->photo;  // another lattice
  // One photo ahead at most: the last one goes before the next is decoded.
  if (ahead_ && !photo) Recycle(std::move(ahead_->photo));
  ahead_.reset();
  std::unique_ptr<NoiseMapLayer> along;
  if (!photo) photo = Decode(ahead, stop, false, &along);
  if (!photo) return;  // shown as it fails once it is asked for
  std::optional<LaidMap> laid = Lay(ahead, *photo, stop, along);
  if (!laid) return;
  ahead_ = Prepared{std::move(photo), std::move(*laid)};
  Post([this, path = ahead.path] { Q_EMIT prepared(path); });
}

void PictureWork::Recycle(std::shared_ptr<const DecodedPhoto> old) {
  // Only when no one else (the canvas, a queued delivery) holds it any more.
  if (old && old.use_count() == 1) spare_ = std::const_pointer_cast<DecodedPhoto>(std::move(old));
}

std::shared_ptr<const DecodedPhoto> PictureWork::Decode(const MapRequest& request,
                                                        std::stop_token stop, bool shown,
                                                        std::unique_ptr<NoiseMapLayer>* along) {
  const QString path = request.path;
  try {
    auto photo = std::make_shared<DecodedPhoto>();
    photo->path = path;
    auto lastShown = std::chrono::steady_clock::now();
    PhotoSink sink(*photo, spare_.get(), budget_, request, stop, [&](double share) {
      const auto now = std::chrono::steady_clock::now();
      if (!shown || now - lastShown < std::chrono::milliseconds(40)) return;
      lastShown = now;
      Post([this, path, share] { Q_EMIT progressed(path, share); });
    });
    PictureFile file(QFile::encodeName(path).toStdString());
    DecodeJpeg(file, sink, {.stop = stop});
    sink.Finish();
    spare_.reset();  // what the photo did not take over would not fit another
    if (stop.stop_requested()) return nullptr;
    if (photo->brightness.values.empty()) throw std::bad_alloc();   // the sink never began
    if (photo->overview.isNull()) photo->overview = photo->colour;  // it fits as it is
    *along = std::move(sink.layer());
    return photo;
  } catch (...) {
    // A stopped decode tells nothing.
    const Error error = ErrorFromException(std::current_exception());
    if (shown && error.kind() != ErrorKind::Stopped) {
      Post([this, path, error] { Q_EMIT photoFailed(path, error); });
    }
  }
  return nullptr;
}

std::optional<LaidMap> PictureWork::Lay(const MapRequest& request, const DecodedPhoto& photo,
                                        std::stop_token stop,
                                        std::unique_ptr<NoiseMapLayer>& along) {
  LaidMap laid{request, nullptr, request.problem};
  if (!request.size) return laid;
  try {
    std::shared_ptr<NoiseMap> map;
    if (along) map = std::make_shared<NoiseMap>(along->Finish());
    along.reset();
    if (!map || (!map->complete && !stop.stop_requested())) {
      map = std::make_shared<NoiseMap>(MapNoise(photo.brightness, request.region, *request.size,
                                                request.direction, stop, request.CellLimit(),
                                                LayingThreads()));
    }
    if (!map->complete) return std::nullopt;
    laid.map = std::move(map);
  } catch (...) {
    const Error problem = ErrorFromException(std::current_exception());
    if (problem.kind() == ErrorKind::Stopped) return std::nullopt;
    laid.problem = problem;
  }
  if (stop.stop_requested()) return std::nullopt;
  return laid;
}

void PictureWork::LayDetail(const DetailRequest& request, std::stop_token stop) {
  if (!photo_ || photo_->path != request.laid.path || !request.laid.size) return;
  try {
    std::optional<MapCells> cells =
        MapWindow(photo_->brightness, request.laid.region, *request.laid.size,
                  request.laid.direction, request.window, request.cellLimit, stop);
    if (!cells) return;
    auto shared = std::make_shared<const MapCells>(std::move(*cells));
    Post([this, map = request.map, shared] { Q_EMIT detailReady(map, shared); });
  } catch (const std::exception&) {
    // The map itself was laid over these settings: the whole map stays in view instead.
  }
}

}  // namespace swelox::ui
