#include "io/dos/dos_serialize.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "io/dos/dos_base64.h"
#include "io/dos/dos_files.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"

namespace {

constexpr char kTableMagic[4] = {'Q', 'M', 'T', '0'};
constexpr char kRawFunctionMagic[4] = {'Q', 'M', 'F', '0'};
constexpr char kBase64FunctionMagic[4] = {'Q', 'M', 'F', '1'};

uint32_t PutByte(qmFileObject *f, uint8_t b) { return WriteFileObject(f, f->file, &b, 1, 1); }

uint32_t PutNumber(qmFileObject *f, double n) {
  if (uint32_t code = PutByte(f, TABLETAG_NUMBER)) return code;
  return WriteFileObject(f, f->file, &n, 0, 8);
}

uint32_t PutString(VmState *L, int i, qmFileObject *f) {
  size_t len = vm_strlen(L, i);
  if (len > UINT32_MAX) return ERR_WRONGUSAGE;
  if (uint32_t code = PutByte(f, TABLETAG_STRING)) return code;
  uint32_t n = uint32_t(len);
  if (uint32_t code = WriteFileObject(f, f->file, &n, 0, 4)) return code;
  return WriteFileObject(f, f->file, vm_tostring(L, i), 1, len);
}

// The tables on the path from the record's root, to refuse cycles.
struct WritePath {
  std::vector<const void *> tables;
};

uint32_t WriteBody(VmState *L, int t, qmFileObject *f, int base64, WritePath *path) {
  if (path->tables.size() >= size_t(kTableMaxDepth) || !vm_checkstack(L, 4)) return ERR_WRONGUSAGE;
  const void *self = vm_topointer(L, t);
  for (const void *p : path->tables)
    if (p == self) return ERR_WRONGUSAGE;
  path->tables.push_back(self);
  uint32_t code = 0;
  vm_pushnil(L);
  while (code == 0 && vm_next(L, t)) {
    int key = vm_gettop(L) - 1, value = key + 1;
    switch (vm_type(L, key)) {
      case VM_TNUMBER: code = PutNumber(f, vm_tonumber(L, key)); break;
      case VM_TSTRING: code = PutString(L, key, f); break;
      default: code = ERR_WRONGUSAGE; break;
    }
    if (code) break;
    switch (vm_type(L, value)) {
      case VM_TNUMBER: code = PutNumber(f, vm_tonumber(L, value)); break;
      case VM_TSTRING: code = PutString(L, value, f); break;
      case VM_TTABLE:
        code = PutByte(f, TABLETAG_TABLE);
        if (code == 0) code = WriteBody(L, value, f, base64, path);
        break;
      case VM_TFUNCTION:
        code = PutByte(f, TABLETAG_FUNCTION);
        if (code == 0) code = SerializeFunction(L, value, f, base64);
        break;
      case VM_TLIGHTUSERDATA:
      case VM_TUSERDATA: code = PutNumber(f, 0); break;
      // Booleans and threads have no tag: a key without a value could not be read back.
      default: code = ERR_WRONGUSAGE; break;
    }
    vm_pop(L, 1);
  }
  path->tables.pop_back();
  return code ? code : PutByte(f, TABLETAG_END);
}

// The raw writer sends each piece of the dump to the file; the Base64 writer collects them.
struct DumpTarget {
  qmFileObject *f;
  std::vector<uint8_t> *collected;
  uint32_t code;
};

int DumpWriter(VmState *, const void *p, size_t size, void *ud) {
  auto *t = static_cast<DumpTarget *>(ud);
  if (t->collected) {
    auto *b = static_cast<const uint8_t *>(p);
    t->collected->insert(t->collected->end(), b, b + size);
    return 1;
  }
  t->code = WriteFileObject(t->f, t->f->file, p, 1, size);
  return t->code == 0;
}

void SeekObject(qmFileObject *f, uint64_t position) {
  FileSeek(f->file, int64_t(position), FILE_SEEK_START);
  f->position = position;
}

uint32_t Take(qmFileObject *f, void *to, uint64_t n, int raw) {
  return ReadFileObject(f, f->file, to, raw, n);
}

bool IsHexDigit(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The function body in the form given; pushes the function.
uint32_t ReadFunctionBody(VmState *L, qmFileObject *f, int base64) {
  uint64_t length;
  if (base64) {
    char digits[9] = {};
    if (uint32_t code = Take(f, digits, 8, 1)) return code;
    for (int i = 0; i < 8; i++)
      if (!IsHexDigit(uint8_t(digits[i]))) return ERR_READFUNC;
    length = std::strtoull(digits, nullptr, 16);
  } else {
    uint32_t n;
    if (uint32_t code = Take(f, &n, 4, 0)) return code;
    length = n;
  }
  // Checked before anything is allocated: the length must fit in what the file still holds.
  if (length > f->size - f->position) return ERR_READRANGE;
  std::vector<uint8_t> bytes(length);
  if (length)
    if (uint32_t code = Take(f, bytes.data(), length, 1)) return code;
  if (base64) {
    std::vector<uint8_t> decoded;
    if (uint32_t code = DecodeBase64(reinterpret_cast<const char *>(bytes.data()), bytes.size(), &decoded))
      return code;
    bytes.swap(decoded);
  }
  // The loader accepts compiled bytecode only and runs the checker on every function in it.
  return vm_loadbuffer(L, reinterpret_cast<const char *>(bytes.data()), bytes.size(), "=dos");
}

uint32_t ReadString(VmState *L, qmFileObject *f, uint64_t limit) {
  uint32_t n;
  if (uint32_t code = Take(f, &n, 4, 0)) return code;
  if (n > f->size - f->position) return ERR_READRANGE;
  if (n > limit) return ERR_WRONGUSAGE;
  std::string text(n, '\0');
  if (n)
    if (uint32_t code = Take(f, text.data(), n, 1)) return code;
  vm_pushlstring(L, text.data(), text.size());
  return 0;
}

uint32_t ReadBody(VmState *L, qmFileObject *f, int depth) {
  if (depth > kTableMaxDepth || !vm_checkstack(L, 6)) return ERR_READTABLE;
  vm_newtable(L);
  int t = vm_gettop(L);
  for (;;) {
    uint8_t tag;
    if (uint32_t code = Take(f, &tag, 1, 1)) return code;
    if (tag == TABLETAG_END) return 0;
    if (tag == TABLETAG_NUMBER) {
      double key;
      if (uint32_t code = Take(f, &key, 8, 0)) return code;
      if (std::isnan(key)) return ERR_READTABLE;
      vm_pushnumber(L, key);
    } else if (tag == TABLETAG_STRING) {
      if (uint32_t code = ReadString(L, f, kMaxStringKeyLength)) return code;
    } else {
      return ERR_READTABLE;
    }
    if (uint32_t code = Take(f, &tag, 1, 1)) return code;
    uint32_t code = 0;
    switch (tag) {
      case TABLETAG_NUMBER: {
        double v;
        code = Take(f, &v, 8, 0);
        if (code == 0) vm_pushnumber(L, v);
        break;
      }
      case TABLETAG_STRING: code = ReadString(L, f, VM_MAXSTRLEN); break;
      case TABLETAG_TABLE: code = ReadBody(L, f, depth + 1); break;
      case TABLETAG_FUNCTION: {
        // Bodies inside tables are written in either form; a Base64 body begins with a
        // hexadecimal digit, which no raw length of a real function could.
        uint8_t first;
        if (f->position >= f->size) return ERR_READRANGE;
        code = Take(f, &first, 1, 1);
        if (code) break;
        SeekObject(f, f->position - 1);
        code = ReadFunctionBody(L, f, IsHexDigit(first));
        break;
      }
      default: code = ERR_READTABLE; break;
    }
    if (code) return code;
    vm_rawset(L, t);
  }
}

uint32_t TakeMagic(qmFileObject *f, char magic[4]) {
  if (f->position >= f->size) return ERR_READRANGE;
  return Take(f, magic, 4, 1);
}

}  // namespace

uint32_t SerializeTable(VmState *L, int t, qmFileObject *f, int base64) {
  WritePath path;
  int top = vm_gettop(L);
  uint32_t code = WriteBody(L, t, f, base64, &path);
  vm_settop(L, top);
  return code;
}

uint32_t SerializeFunction(VmState *L, int idx, qmFileObject *f, int base64) {
  uint64_t start = FileSeek(f->file, 0, FILE_SEEK_CURRENT);
  uint8_t placeholder[8] = {};
  if (uint32_t code = WriteFileObject(f, f->file, placeholder, 1, base64 ? 8 : 4)) return code;
  std::vector<uint8_t> collected;
  DumpTarget target{f, base64 ? &collected : nullptr, 0};
  uint32_t code = vm_dump(L, idx, DumpWriter, &target);
  if (code) return target.code ? target.code : code;
  uint64_t bodyLength = f->position - start - (base64 ? 8 : 4);
  if (base64) {
    std::string text;
    EncodeBase64Lines(collected.data(), collected.size(), &text);
    if ((code = WriteFileObject(f, f->file, text.data(), 1, text.size()))) return code;
    bodyLength = text.size();
  }
  if (bodyLength > UINT32_MAX) return ERR_WRITE;
  uint64_t end = f->position;
  SeekObject(f, start);
  if (base64) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%.8lx", static_cast<unsigned long>(bodyLength));
    code = WriteFileObject(f, f->file, digits, 1, 8);
  } else {
    uint32_t n = uint32_t(bodyLength);
    code = WriteFileObject(f, f->file, &n, 0, 4);
  }
  SeekObject(f, end);
  return code;
}

uint32_t WriteTableRecord(VmState *L, int t, qmFileObject *f, int base64) {
  if (uint32_t code = WriteFileObject(f, f->file, kTableMagic, 1, 4)) return code;
  return SerializeTable(L, t, f, base64);
}

uint32_t WriteFunctionRecord(VmState *L, int idx, qmFileObject *f, int base64) {
  if (uint32_t code = WriteFileObject(f, f->file, base64 ? kBase64FunctionMagic : kRawFunctionMagic, 1, 4))
    return code;
  return SerializeFunction(L, idx, f, base64);
}

uint32_t ReadTableRecord(VmState *L, qmFileObject *f) {
  char magic[4];
  if (uint32_t code = TakeMagic(f, magic)) return code;
  if (std::memcmp(magic, kTableMagic, 4) != 0) return ERR_READTABLE;
  int top = vm_gettop(L);
  uint32_t code = ReadBody(L, f, 0);
  if (code) vm_settop(L, top);
  return code;
}

uint32_t ReadFunctionRecord(VmState *L, qmFileObject *f) {
  char magic[4];
  if (uint32_t code = TakeMagic(f, magic)) return code;
  int base64;
  if (std::memcmp(magic, kRawFunctionMagic, 4) == 0) base64 = 0;
  else if (std::memcmp(magic, kBase64FunctionMagic, 4) == 0) base64 = 1;
  else return ERR_READFUNC;
  return ReadFunctionBody(L, f, base64);
}
