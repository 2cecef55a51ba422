// The worker thread of the picture view.
#include "app/PictureWork.h"

#include <QFile>
#include <QImageReader>
#include <QMetaObject>
#include <QPointer>
#include <chrono>
#include <new>

#include "app/ErrorBox.h"
#include "core/Errors.h"
#include "imaging/FileReading.h"
#include "imaging/MemoryBudget.h"

namespace swelox::ui {
namespace {

QString Refusal(int64_t width, int64_t height, uint64_t need, uint64_t budget) {
  return QStringLiteral(
             "The photo is %1 x %2 pixels: the view would need %3 for it, more than the %4 that "
             "a decode may take. It is not decoded.")
      .arg(width)
      .arg(height)
      .arg(QString::fromStdString(Mebibytes(need)), QString::fromStdString(Mebibytes(budget)));
}

// The brightness as the analysis forms it and the colours, row by row; the size is checked
// against the budget before anything as large as the picture is allocated.
class PhotoSink : public BrightnessCollector {
 public:
  using Progress = std::function<void(double)>;
  PhotoSink(DecodedPhoto& photo, uint64_t budget, std::stop_token stop, Progress progress)
      : BrightnessCollector(photo.brightness),
        photo_(photo),
        budget_(budget),
        stop_(std::move(stop)),
        progress_(std::move(progress)) {}

  void Begin(int32_t width, int32_t height) override {
    const uint64_t need = PhotoMemoryNeed(width, height);
    if (need > budget_) throw Error(Refusal(width, height, need, budget_).toStdString());
    BrightnessCollector::Begin(width, height);
    photo_.colour = QImage(width, height, QImage::Format_RGB32);
    if (photo_.colour.isNull()) throw std::bad_alloc();
    height_ = height;
  }

  void Row(const uint8_t* pixels) override {
    if (stop_.stop_requested()) throw DecodeStopped{};
    const int32_t y = rowsDone();
    BrightnessCollector::Row(pixels);
    auto* out = reinterpret_cast<QRgb*>(photo_.colour.scanLine(y));
    for (int32_t x = 0; x < photo_.colour.width(); ++x, pixels += 4) {
      out[x] = qRgb(pixels[0], pixels[1], pixels[2]);
    }
    if ((y & 31) == 0) progress_(double(y) / height_);
  }

 private:
  DecodedPhoto& photo_;
  const uint64_t budget_;
  std::stop_token stop_;
  Progress progress_;
  int32_t height_ = 1;
};

}  // namespace

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
  pendingDetail_.reset();
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
    {
      std::unique_lock lock(mutex_);
      if (!wake_.wait(lock, quit, [this] { return pending_ || pendingDetail_; })) return;
      if (!pending_) {
        const DetailRequest detail = std::move(*pendingDetail_);
        pendingDetail_.reset();
        current_ = std::stop_source();
        stop = current_.get_token();
        detailing_ = true;
        lock.unlock();
        LayDetail(detail, stop);
        lock.lock();
        detailing_ = false;
        continue;
      }
      request = std::move(*pending_);
      pending_.reset();
      current_ = std::stop_source();
      stop = current_.get_token();
      if (!photo_ || photo_->path != request.path) {
        photo_.reset();
        decoding_ = request.path;
      }
    }
    if (!photo_) {
      std::shared_ptr<const DecodedPhoto> photo = Decode(request, stop);
      std::lock_guard lock(mutex_);
      decoding_.clear();
      if (!photo) continue;
      photo_ = std::move(photo);
      // Newer settings for this photo, asked for during the decode, replace the first ones.
      if (pending_ && pending_->path == request.path) {
        request = std::move(*pending_);
        pending_.reset();
        current_ = std::stop_source();
        stop = current_.get_token();
      }
    }
    Lay(request, stop);
  }
}

std::shared_ptr<const DecodedPhoto> PictureWork::Decode(const MapRequest& request,
                                                        std::stop_token stop) {
  const QString path = request.path;
  try {
    // The header alone tells the size: a photo too large is refused before any decode.
    QImageReader reader(path);
    reader.setAutoTransform(false);  // the analysis takes the pixels as stored
    const QSize full = reader.size();
    if (full.isValid() && PhotoMemoryNeed(full.width(), full.height()) > budget_) {
      const QString refusal = Refusal(full.width(), full.height(),
                                      PhotoMemoryNeed(full.width(), full.height()), budget_);
      Post([this, path, refusal] { Q_EMIT photoFailed(path, refusal); });
      return nullptr;
    }
    if (full.isValid()) {
      // Qt's JPEG reader hands a smaller size to libjpeg's scaled decode (1/2, 1/4, 1/8).
      if (full.width() > request.overviewLimit.width() ||
          full.height() > request.overviewLimit.height()) {
        reader.setScaledSize(full.scaled(request.overviewLimit, Qt::KeepAspectRatio));
      }
      const QImage overview = reader.read();
      if (!overview.isNull() && !stop.stop_requested()) {
        Post([this, path, overview, full] { Q_EMIT overviewReady(path, overview, full); });
      }
    }
    if (stop.stop_requested()) return nullptr;

    auto photo = std::make_shared<DecodedPhoto>();
    photo->path = path;
    auto lastShown = std::chrono::steady_clock::now();
    PhotoSink sink(*photo, budget_, stop, [&](double share) {
      const auto now = std::chrono::steady_clock::now();
      if (now - lastShown < std::chrono::milliseconds(40)) return;
      lastShown = now;
      Post([this, path, share] { Q_EMIT progressed(path, share); });
    });
    PictureFile file(QFile::encodeName(path).toStdString());
    DecodeJpeg(file, sink, {.stop = stop});
    if (stop.stop_requested()) return nullptr;
    if (photo->brightness.values.empty()) throw std::bad_alloc();  // the sink never began
    std::shared_ptr<const DecodedPhoto> done = photo;
    Post([this, done] { Q_EMIT photoReady(done); });
    return done;
  } catch (...) {
    // As the error box would show it; a stopped decode tells nothing.
    if (const std::optional<QString> message = ErrorText(std::current_exception())) {
      Post([this, path, message = *message] { Q_EMIT photoFailed(path, message); });
    }
  }
  return nullptr;
}

void PictureWork::Lay(const MapRequest& request, std::stop_token stop) {
  LaidMap laid{request, nullptr, request.problem};
  if (!request.size) {
    Post([this, laid] { Q_EMIT mapReady(laid); });
    return;
  }
  try {
    auto map =
        std::make_shared<NoiseMap>(MapNoise(photo_->brightness, request.region, *request.size,
                                            request.direction, stop, request.CellLimit()));
    if (!map->complete) return;
    laid.map = std::move(map);
  } catch (...) {
    const std::optional<QString> problem = ErrorText(std::current_exception());
    if (!problem) return;
    laid.problem = *problem;
  }
  if (stop.stop_requested()) return;
  Post([this, laid] { Q_EMIT mapReady(laid); });
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
