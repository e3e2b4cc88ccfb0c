// qmrun file.qmb: runs a chunk in the VM alone, with two test natives: debugprint (its
// arguments as the VM converts them to text, one blank apart, then a line feed) and record
// (each argument tagged with its type, one line per call). An uncaught error prints
// "error <code> <name>" and exits 1.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_number.h"

namespace {

uint32_t DebugPrint(VmState *L) {
  int n = vm_gettop(L);
  std::string line;
  for (int i = 1; i <= n; i++) {
    if (i > 1) line += ' ';
    const char *text = vm_tostring(L, i);  // numbers and nil convert; other values have none
    if (text) line.append(text, vm_strlen(L, i));
    else line += vm_typename(vm_type(L, i));
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
  return 0;
}

uint32_t Record(VmState *L) {
  int n = vm_gettop(L);
  std::string line = "record";
  char num[VM_MAXNUMBER2STR];
  for (int i = 1; i <= n; i++) {
    line += ' ';
    switch (vm_type(L, i)) {
      case VM_TNUMBER:
        vm_number2str(vm_tonumber(L, i), num, sizeof num);
        line += num;
        break;
      case VM_TSTRING:
        line += '\'';
        line.append(vm_tostring(L, i), vm_strlen(L, i));
        line += '\'';
        break;
      case VM_TBOOLEAN: line += vm_toboolean(L, i) ? "true" : "false"; break;
      default: line += vm_typename(vm_type(L, i)); break;
    }
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
  return 0;
}

void Register(VmState *L, const char *name, VmCFunction f) {
  vm_pushstring(L, name);
  vm_pushcfunction(L, f);
  vm_settable(L, VM_GLOBALSINDEX);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qmrun file.qmb\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "qmrun: cannot read %s\n", argv[1]);
    return 2;
  }
  std::vector<char> chunk{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  VmState *L = vm_open();
  if (!L) {
    std::fprintf(stderr, "qmrun: no memory\n");
    return 1;
  }
  Register(L, "debugprint", DebugPrint);
  Register(L, "record", Record);
  std::string name = std::string("@") + argv[1];
  uint32_t code = vm_loadbuffer(L, chunk.data(), chunk.size(), name.c_str());
  if (code == 0) code = vm_pcall(L, 0, 0, 0);
  std::fflush(stdout);
  if (code) {
    const char *cname = qm_error_name(code);
    std::printf("error %u %s\n", code, cname ? cname : "?");
  }
  vm_close(L);
  return code ? 1 : 0;
}
