// libFuzzer target: any bytes as a path command stream for the vector plug-in, as a player
// that wrote it wrongly or a plug-in caller might hand it over: measured filled and stroked, its
// current point asked for, drawn into a small plane through any matrix, and moved. A head of
// settings comes first (style, plane size, matrix, offsets, dashes); the rest is the stream,
// followed by zeros enough for any command it cuts short.
#include <vector>

#include "graphics/vectorpath.h"
#include "tools/fuzz/fuzz_vector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzBytes in{data, size};
  const uint8_t flags = in.Byte(), lineWidth = in.Byte();
  const int32_t w = 1 + in.Byte() % 64, h = 1 + in.Byte() % 64;
  const int32_t dashCount = in.Byte() % 5;
  double matrix[6];
  for (double &m : matrix) m = in.Raw<double>();
  const double offsetX = in.Raw<double>(), offsetY = in.Raw<double>();
  const double originX = in.Raw<double>(), originY = in.Raw<double>();
  const double dx = in.Raw<double>(), dy = in.Raw<double>();
  double dashes[4];
  for (int i = 0; i < dashCount; i++) dashes[i] = in.Raw<double>();
  const double dashOffset = in.Raw<double>();
  // The stream at a word boundary, then a zero word and room for the longest command's operands.
  std::vector<uint32_t> words((in.left + 3) / 4 + 32, 0);
  std::memcpy(words.data(), in.at, in.left);
  uint8_t *commands = reinterpret_cast<uint8_t *>(words.data());

  qmVectorStyle style{};
  style.join = (flags >> 2) & 3, style.cap = (flags >> 4) & 3, style.fillRule = (flags >> 6) & 1;
  style.antialias = flags & 2 ? 1 : 0;
  style.dashes = flags & 0x80 ? dashes : nullptr;
  style.dashCount = dashCount;
  style.dashOffset = dashOffset;

  qmPathExtentsRequest e{};
  e.commands = commands, e.style = &style, e.fill = flags & 1, e.lineWidth = lineWidth;
  e.offsetX = offsetX, e.offsetY = offsetY;
  GetPathExtents(&e);
  double x, y;
  GetCurrentPoint(commands, &style, &x, &y);

  std::vector<uint8_t> plane(size_t(w + 3) / 4 * 4 * size_t(h), 0);
  qmDrawPathRequest q{};
  q.commands = commands, q.style = &style, q.fill = flags & 1, q.lineWidth = lineWidth;
  q.color = uint32_t(lineWidth) << 24;
  q.alpha = plane.data(), q.bytesPerRow = (w + 3) / 4 * 4, q.width = w, q.height = h;
  q.offsetX = offsetX, q.offsetY = offsetY, q.originX = originX, q.originY = originY;
  q.matrix = matrix;
  DrawPath(&q);

  qmTranslatePathRequest t{commands, dx, dy};
  if (TranslatePath(&t)) GetPathExtents(&e);
  return 0;
}
