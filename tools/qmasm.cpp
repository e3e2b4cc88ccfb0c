// qmasm in.qasm -o out.qmb: assembles a text program into a compiled chunk.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tools/chunkbuilder.h"
#include "tools/qmasm_lib.h"

int main(int argc, char **argv) {
  std::string in, out;
  bool usage = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-o" && i + 1 < argc && out.empty()) out = argv[++i];
    else if (arg != "-o" && in.empty()) in = arg;
    else usage = true;
  }
  if (usage || in.empty() || out.empty()) {
    std::cerr << "usage: qmasm in.qasm -o out.qmb\n";
    return 2;
  }
  qmtools::AsmResult result = qmtools::AssembleFile(in);
  if (!result.proto) {
    std::cerr << (result.errorLine ? in + ": " : std::string("qmasm: ")) << result.error << "\n";
    return 1;
  }
  std::vector<uint8_t> chunk = qmtools::BuildChunk(*result.proto);
  std::ofstream dst(out, std::ios::binary | std::ios::trunc);
  dst.write(reinterpret_cast<const char *>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
  dst.close();
  if (!dst) {
    std::cerr << "qmasm: cannot write " << out << "\n";
    return 1;
  }
  return 0;
}
