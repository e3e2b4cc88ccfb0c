// The name of a script object, and the header every object record begins with. A name is a
// number the script chose, or an automatic id: the address of the object's record, handed to
// the script as light user data.
#pragma once
#include <cstdint>

struct qmObjectId {
  uint32_t id;
  uintptr_t handle;  // the record's address for an automatic id; 0 for a number
};

// Every script object record begins with this header.
struct qmObjectHeader {
  uint32_t type;
  uint32_t id;
  uintptr_t handle;  // the record's own address for an automatic id; 0 otherwise
  void *userData;    // the object's data items (objdata.h)
  qmObjectHeader *next;  // creation order within the type (objlist.h)
  qmObjectHeader *prev;
};
