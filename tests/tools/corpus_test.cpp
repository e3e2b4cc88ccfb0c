// The assembled corpus under tests/runtime/vm/corpus seeds the loader's mutation test, so
// every program must assemble, load, and together they must use every opcode.
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

#include "runtime/vm/vm_opcodes.h"
#include "tools/chunkbuilder.h"
#include "tools/listing.h"
#include "tools/qmasm_lib.h"

namespace qmtools {
namespace {

std::vector<std::filesystem::path> CorpusFiles() {
  std::vector<std::filesystem::path> files;
  for (const auto &entry : std::filesystem::directory_iterator(QM_SOURCE_DIR "/tests/runtime/vm/corpus"))
    if (entry.path().extension() == ".qasm") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

void CollectOpcodes(const ChunkProto &p, std::set<unsigned> &ops, bool &gosub) {
  for (uint32_t word : p.code) {
    ops.insert(vm_getop(word));
    if (vm_getop(word) == OP_JMP && vm_getjumpflag(word) == VM_JMP_GOSUB) gosub = true;
  }
  for (const ChunkProto &child : p.protos) CollectOpcodes(child, ops, gosub);
}

TEST(Corpus, EveryProgramAssemblesAndLoads) {
  std::vector<std::filesystem::path> files = CorpusFiles();
  ASSERT_GE(files.size(), 10u);
  std::set<unsigned> ops;
  bool gosub = false;
  for (const auto &path : files) {
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    AsmResult r = AssembleText(text);
    ASSERT_TRUE(r.proto) << path << ": " << r.error;
    CollectOpcodes(*r.proto, ops, gosub);
    std::vector<uint8_t> chunk = BuildChunk(*r.proto);
    ChunkListing listing = ListChunk(chunk.data(), chunk.size(), path.filename().c_str());
    EXPECT_EQ(listing.error, 0u) << path << ": " << listing.text;
  }
  for (unsigned op = 0; op < VM_NUM_OPCODES; ++op) EXPECT_TRUE(ops.count(op)) << "no " << vm_opmodes[op].name;
  EXPECT_TRUE(gosub);
}

}  // namespace
}  // namespace qmtools
