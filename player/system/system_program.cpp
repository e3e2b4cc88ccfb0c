#include "player/system/system_program.h"

namespace {

const qmProgramInfo kNoProgram{0, 0, "", "", "", nullptr, 1};
const qmProgramInfo *gInfo = nullptr;

}  // namespace

void SetProgramInfo(const qmProgramInfo *info) { gInfo = info; }
const qmProgramInfo *GetProgramInfo() { return gInfo ? gInfo : &kNoProgram; }
