// The coverage module: the rasterisers of coverage.h drawn through OpenCV, built as a shared
// object of its own and reached through its table (coverage_module.h).
#include "graphics/coverage_module.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <vector>

#include "runtime/errcodes.h"

namespace {

// The plane's bytes seen as an image, without a copy.
cv::Mat PlaneImage(qmAlphaChannel *plane) {
  return cv::Mat(plane->height, plane->width, CV_8UC1, plane->memory, size_t(plane->bytesPerRow));
}

// The points as OpenCV's, in a list each thread keeps between calls.
const cv::Point *PointList(const int32_t *points, int32_t count) {
  thread_local std::vector<cv::Point> list;
  list.resize(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; i++) list[size_t(i)] = cv::Point(points[2 * i], points[2 * i + 1]);
  return list.data();
}

// OpenCV reports failures by exception; none may travel further than this file.
template <class F> uint32_t Guarded(F &&draw) {
  try {
    draw();
    return 0;
  } catch (...) {
    return ERR_MEM;
  }
}

// A 32-bit bitmap seen as a four-channel image, and its stored pixel word as a colour of it.
cv::Mat BitmapImage(qmBitmap *bitmap) {
  return cv::Mat(bitmap->height, bitmap->width, CV_8UC4, bitmap->pixels, size_t(bitmap->bytesPerRow));
}
cv::Scalar PixelScalar(uint32_t pixel) {
  const uint8_t *b = reinterpret_cast<const uint8_t *>(&pixel);
  return cv::Scalar(b[0], b[1], b[2], b[3]);
}

bool Usable(const qmAlphaChannel *plane) {
  return plane && plane->memory && plane->width > 0 && plane->height > 0;
}

uint32_t FillCoveragePolygon(qmAlphaChannel *plane, const int32_t *points, int32_t count, int32_t antialias) {
  if (!Usable(plane) || count < 1) return 0;
  return Guarded([&] {
    cv::Mat image = PlaneImage(plane);
    const cv::Point *list = PointList(points, count);
    cv::fillPoly(image, &list, &count, 1, cv::Scalar(255), antialias ? cv::LINE_AA : cv::LINE_8);
  });
}

uint32_t DrawCoverageOutline(qmAlphaChannel *plane, const int32_t *points, int32_t count, int32_t width,
                             int32_t antialias) {
  if (!Usable(plane) || count < 1) return 0;
  return Guarded([&] {
    cv::Mat image = PlaneImage(plane);
    const cv::Point *list = PointList(points, count);
    cv::polylines(image, &list, &count, 1, true, cv::Scalar(255), width < 1 ? 1 : width,
                  antialias ? cv::LINE_AA : cv::LINE_8);
  });
}

uint32_t DrawCoverageLine(qmAlphaChannel *plane, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t thickness,
                          int32_t antialias) {
  if (!Usable(plane)) return 0;
  return Guarded([&] {
    cv::Mat image = PlaneImage(plane);
    cv::line(image, cv::Point(x1, y1), cv::Point(x2, y2), cv::Scalar(255), thickness < 1 ? 1 : thickness,
             antialias ? cv::LINE_AA : cv::LINE_8);
  });
}

uint32_t FillBitmapPolygon(qmBitmap *bitmap, const int32_t *points, int32_t count, uint32_t pixel) {
  if (!bitmap || !bitmap->pixels || bitmap->bytesPerPixel != 4 || count < 1) return 0;
  return Guarded([&] {
    cv::Mat image = BitmapImage(bitmap);
    const cv::Point *list = PointList(points, count);
    cv::fillPoly(image, &list, &count, 1, PixelScalar(pixel), cv::LINE_8);
  });
}

uint32_t DrawBitmapOutline(qmBitmap *bitmap, const int32_t *points, int32_t count, int32_t width, uint32_t pixel) {
  if (!bitmap || !bitmap->pixels || bitmap->bytesPerPixel != 4 || count < 1) return 0;
  return Guarded([&] {
    cv::Mat image = BitmapImage(bitmap);
    const cv::Point *list = PointList(points, count);
    cv::polylines(image, &list, &count, 1, true, PixelScalar(pixel), width < 1 ? 1 : width, cv::LINE_8);
  });
}

} // namespace

extern "C" __attribute__((visibility("default"))) const qmCoverageTable *QmCoverageTable() {
  static const qmCoverageTable table = {kCoverageTableVersion, FillCoveragePolygon, DrawCoverageOutline,
                                        FillBitmapPolygon,     DrawBitmapOutline,  DrawCoverageLine};
  return &table;
}
