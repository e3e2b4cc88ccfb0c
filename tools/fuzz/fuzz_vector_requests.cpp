// libFuzzer target: paths built command by command as the vectorgraphics commands build them,
// with any settings a script can make (draw style, edge and shadow, joins, caps, rule, dashes,
// a turning matrix and its anchor), turned into pictures and borders through the renderer and
// the vector plug-in's requests. Coordinates are mostly small (so that pictures are), with any
// number allowed where a byte asks for it.
#include <cmath>
#include <vector>

#include "graphics/draw_style.h"
#include "graphics/gradientfill.h"
#include "graphics/vectorpath.h"
#include "graphics/vectorrender.h"
#include "platform/memory.h"
#include "tools/fuzz/fuzz_vector.h"

namespace {

// A coordinate: a small number in sixteenths, or (its first byte odd and above 250) any double.
double Coordinate(FuzzBytes &in) {
  const uint8_t b = in.Byte();
  if (b > 250) return in.Raw<double>();
  return double(int8_t(b)) / 2 + double(in.Byte() & 15) / 16;
}

void BuildCommands(FuzzBytes &in, qmPath *path, int maxCommands) {
  auto number = [](double d) { return qmPathOperand{PATHARG_DOUBLE, 0, d, nullptr}; };
  auto word = [](uint32_t w) { return qmPathOperand{PATHARG_WORD, w, 0, nullptr}; };
  for (int i = 0; i < maxCommands && in.left; i++) {
    const uint8_t op = in.Byte();
    std::vector<qmPathOperand> ops;
    uint32_t opcode = 0;
    switch (op % 7) {
    case 0:
    case 1:
    case 2:
      opcode = op % 7 == 0 ? PATHOP_MOVE : op % 7 == 1 ? PATHOP_LINE : PATHOP_CURVE;
      ops.push_back(word(op >> 7));
      for (int k = 0; k < (opcode == PATHOP_CURVE ? 6 : 2); k++) ops.push_back(number(Coordinate(in)));
      break;
    case 3: opcode = PATHOP_SUBPATH; break;
    case 4: opcode = PATHOP_CLOSE; break;
    case 5:
      opcode = PATHOP_ARC;
      for (int k = 0; k < 4; k++) ops.push_back(number(Coordinate(in)));
      for (int k = 0; k < 2; k++) ops.push_back(number(double(in.Raw<int16_t>()) * (op & 0x80 ? 1e6 : 1)));
      ops.push_back(word(op >> 7));
      break;
    case 6:
      opcode = PATHOP_BOX;
      for (int k = 0; k < 4; k++) ops.push_back(number(Coordinate(in)));
      for (int k = 0; k < 4; k++) ops.push_back(word(in.Byte() % 101));
      break;
    }
    AppendPathCommand(path, opcode, int32_t(ops.size()), ops.data());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzBytes in{data, size};
  qmDrawStyle style;
  SetDefaultDrawStyle(&style);
  const uint8_t fill = in.Byte(), form = in.Byte();
  style.fillStyle = fill & 3;
  style.formStyle = form & (FORM_ANTIALIAS | FORM_SHADOW | FORM_EDGE | FORM_NORMAL);
  style.lineWidth = 1 + in.Byte() % 16;
  style.edgeSize = in.Byte() % 10;
  style.shadowSize = in.Byte() % 10;
  style.shadowDirection = in.Byte() % 9;
  style.edgeColor = in.Raw<uint32_t>(), style.shadowColor = in.Raw<uint32_t>();
  style.gradient.kind = in.Byte() % 4;
  style.gradient.startColor = in.Raw<uint32_t>(), style.gradient.endColor = in.Raw<uint32_t>();
  style.gradient.angle = in.Raw<int16_t>();
  ValidateDrawStyle(&style);

  qmVectorState state{};
  const uint8_t stroke = in.Byte();
  state.join = stroke & 3, state.cap = (stroke >> 2) & 3, state.fillRule = (stroke >> 4) & 1;
  double dashes[3];
  if (stroke & 0x20) {
    state.dashCount = 1 + (stroke >> 6) % 3;
    for (uint32_t i = 0; i < state.dashCount; i++) dashes[i] = double(in.Byte()) / 4;
    state.dashOffset = double(int8_t(in.Byte()));
    // The library keeps only lists it checked.
    if (CheckDashes(dashes, state.dashCount) == 0) state.dashes = dashes;
    else state.dashCount = 0;
  }
  // A turn and scale of the drawing, about an anchor of the box.
  const uint8_t turn = in.Byte(), scale = in.Byte();
  const double a = turn * M_PI / 128, s = 0.25 + scale / 64.0;
  const double matrix[4] = {s * std::cos(a), s * std::sin(a), -s * std::sin(a), s * std::cos(a)};
  const double anchorX = in.Byte() / 255.0, anchorY = in.Byte() / 255.0;
  const uint32_t color = in.Raw<uint32_t>();
  const int32_t border = 1 + in.Byte() % 8;

  qmPath *path;
  if (NewPath(&path)) return 0;
  BuildCommands(in, path, 64);
  const qmPathPicture p{&kFuzzVectorEngine, path->commands, &state, &style, color, nullptr,
                        turn ? matrix : nullptr, anchorX, anchorY};
  double box[4];
  if (path->commands) MeasurePath(&p, box);
  qmShapeImage img;
  qmPathBox upright;
  if (RenderPathPicture(&p, &img, &upright) == 0) FreeShapeImage(&img);
  if (RenderPathOutline(&p, 0xFF8000, border, &img) == 0) FreeShapeImage(&img);
  FreePathRecord(path);
  return 0;
}
