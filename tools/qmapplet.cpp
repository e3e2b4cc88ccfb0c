// qmapplet in.qasm -o out.qma [-pack] [-link player]: assembles a text program and writes it as
// an applet (version 5.2, the chunk's source named as its include file), a packed program, or
// a linked program made of the player and the appended applet.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tools/appletwriter.h"
#include "tools/chunkbuilder.h"
#include "tools/qmasm_lib.h"

namespace {

int32_t LastLine(const qmtools::ChunkProto &p) {
  int32_t last = 1;
  for (int32_t l : p.lineInfo) last = std::max(last, l);
  for (const auto &child : p.protos) last = std::max(last, LastLine(child));
  return last;
}

}  // namespace

int main(int argc, char **argv) {
  std::string in, out, player;
  bool pack = false, usage = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-o" && i + 1 < argc) out = argv[++i];
    else if (arg == "-link" && i + 1 < argc) player = argv[++i];
    else if (arg == "-pack") pack = true;
    else if (in.empty() && arg[0] != '-') in = arg;
    else usage = true;
  }
  if (usage || in.empty() || out.empty()) {
    std::cerr << "usage: qmapplet in.qasm -o out.qma [-pack] [-link player]\n";
    return 2;
  }
  qmtools::AsmResult result = qmtools::AssembleFile(in);
  if (!result.proto) {
    std::cerr << (result.errorLine ? in + ": " : std::string("qmapplet: ")) << result.error << "\n";
    return 1;
  }
  std::string source = result.proto->source.value_or("");
  std::vector<uint8_t> applet = qmtools::MakeSimpleApplet(qmtools::BuildChunk(*result.proto), source,
                                                          uint32_t(LastLine(*result.proto)));
  if (pack) applet = qmtools::PackProgram(applet);
  std::string error;
  bool ok = player.empty() ? qmtools::WriteBytes(out, applet) : qmtools::LinkProgram(player, applet, out, &error);
  if (!ok) {
    std::cerr << "qmapplet: " << (error.empty() ? "cannot write " + out : error) << "\n";
    return 1;
  }
  return 0;
}
