// The picture view's worker thread: it decodes a photo (its brightness for the analysis, its
// colours, and an overview at about the screen's size, all from one decode), lays the lattice over
// it, and hands each result to the GUI thread. Once a photo is shown it prepares the next one of
// the run the same way, so that stepping to it shows it at once. A newer request stops the older
// work; the GUI thread never waits.
#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "analysis/NoiseMap.h"
#include "core/Errors.h"

namespace swelox::ui {

// A decoded photo: the brightness the analysis reads and the colours it is shown in.
struct DecodedPhoto {
  QString path;
  BrightnessPicture brightness;
  QImage colour;    // every pixel, RGB32
  QImage overview;  // whole blocks of pixels averaged down to about the screen's size, RGB32
};

// What the view wants to see: the photo and the lattice over it.
struct MapRequest {
  uint64_t generation = 0;  // the asker's count, to know the newest result
  QString path;
  std::optional<PixelRegion> region;
  std::optional<RectangleSize> size;  // none: the photo only, the lattice cannot be laid
  std::optional<Error> problem;       // why there is no size
  Direction direction = Direction::Below;
  QSize overviewLimit{1600, 1200};  // in pixels; about the screen's size
  // The map keeps no more values than the screen has pixels.
  uint64_t CellLimit() const {
    return uint64_t(overviewLimit.width()) * uint64_t(overviewLimit.height());
  }
  // The same photo under the same lattice: a map laid for one is the other's.
  bool SameMap(const MapRequest& other) const;
};

struct LaidMap {
  MapRequest request;
  std::shared_ptr<const NoiseMap> map;  // null when `problem` says why there is none
  std::optional<Error> problem;
};

// A window of a laid map wanted in more detail than the map keeps, as zooming in asks.
struct DetailRequest {
  std::shared_ptr<const NoiseMap> map;  // the map it belongs to
  MapRequest laid;                      // what the map was laid with
  LatticeWindow window;
  uint64_t cellLimit = 0;  // the most values: the canvas's pixels
};

// The memory that the view needs for a photo of `width` x `height` pixels before any lattice:
// its brightness and its colours.
uint64_t PhotoMemoryNeed(int64_t width, int64_t height);

class PictureWork : public QObject {
  Q_OBJECT

 public:
  // `budget` bounds what one photo and its map may take, in bytes. At most two photos are held:
  // the one shown and the one prepared ahead.
  explicit PictureWork(uint64_t budget, QObject* parent = nullptr);
  ~PictureWork() override;

  // Replaces whatever was asked before. A request for the photo being decoded (or prepared) lets
  // the decode go on and lays only the newest lattice after it; any other request stops the older
  // work. A photo prepared ahead is shown without a decode, with its map when the lattice is the
  // same.
  void Request(MapRequest request);
  // Once nothing else is asked: decodes this photo and lays its map, keeping them for a Request
  // of it. Replaces the photo prepared before.
  void Prepare(MapRequest ahead);
  // Lays a window of the last map again, in detail. A newer one replaces it; a new photo or lattice
  // drops it.
  void RequestDetail(DetailRequest request);
  uint64_t budget() const { return budget_; }

 Q_SIGNALS:
  // In this order for a photo: the decode's progress, the whole photo, then each lattice laid
  // over it.
  void progressed(const QString& path, double share);
  void photoReady(std::shared_ptr<const swelox::ui::DecodedPhoto> photo);
  void mapReady(const swelox::ui::LaidMap& laid);
  void detailReady(std::shared_ptr<const swelox::NoiseMap> map,
                   std::shared_ptr<const swelox::MapCells> cells);
  // The photo was refused or could not be decoded; nothing more comes for it.
  void photoFailed(const QString& path, const swelox::Error& error);
  // The photo asked for by Prepare is decoded and its map laid.
  void prepared(const QString& path);

 private:
  struct Prepared {
    std::shared_ptr<const DecodedPhoto> photo;
    LaidMap laid;
  };

  void Run(std::stop_token quit);
  // The photo decoded; on failure nothing, after telling the view when `shown`.
  // The map of `request` is laid during the decode where it can be, and left in `along`.
  std::shared_ptr<const DecodedPhoto> Decode(const MapRequest& request, std::stop_token stop,
                                             bool shown, std::unique_ptr<NoiseMapLayer>* along);
  // The map of `request` over the worker's photo (the one laid `along` its decode, when there is
  // one); nothing when stopped.
  std::optional<LaidMap> Lay(const MapRequest& request, const DecodedPhoto& photo,
                             std::stop_token stop, std::unique_ptr<NoiseMapLayer>& along);
  void LayDetail(const DetailRequest& request, std::stop_token stop);
  void PrepareAhead(const MapRequest& ahead, std::stop_token stop);
  // A photo no longer shown lends its memory to the next decode.
  void Recycle(std::shared_ptr<const DecodedPhoto> old);
  // Runs `deliver` on the GUI thread.
  template <typename Deliver>
  void Post(Deliver deliver);

  const uint64_t budget_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::optional<MapRequest> pending_;
  std::optional<MapRequest> pendingAhead_;
  std::optional<DetailRequest> pendingDetail_;
  bool detailing_ = false;                     // the work in hand is a detail
  std::stop_source current_;                   // of the work in hand
  QString decoding_;                           // the path being decoded or prepared, else empty
  std::shared_ptr<const DecodedPhoto> photo_;  // the worker's own: the last photo shown
  std::optional<Prepared> ahead_;              // the worker's own: the photo prepared ahead
  std::shared_ptr<DecodedPhoto> spare_;        // the worker's own: a photo nobody shows any more
  std::jthread thread_;
};

}  // namespace swelox::ui
