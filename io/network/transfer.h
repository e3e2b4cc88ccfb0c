// The HTTP/1.1 and passive FTP client behind DownloadFile and UploadFile: one URL, its
// connections opened and closed here, progress reported through qmNetWait.
#pragma once
#include <cstdint>
#include <string>

#include "io/network/connection.h"

struct qmFileHandle;

// What a progress callback answers to stop a transfer without an error; below the error codes.
inline constexpr uint32_t kTransferStopped = 1;

enum : int32_t { FTPASCII = 97, FTPBINARY = 105 };

struct qmTransferRequest {
  std::string url;
  bool upload = false;
  int32_t transferMode = FTPBINARY;
  std::string proxy;  // empty: none
  bool fail404 = false, redirect = true;
  bool post = false;
  std::string postData, postType = "application/x-www-form-urlencoded", userAgent = "Quenmoor 5.2";
  std::string outFile;          // download target; empty: memory
  qmFileHandle *inFile = nullptr;  // upload source and its size, or the data below
  uint64_t inSize = 0;
  std::string inData;
  bool progress = false, progressUserData = false;
};

struct qmTransferResult {
  qmByteBuffer data;  // the downloaded bytes when they went to memory
  uint64_t count = 0;
};

// 0 (also when the callback stopped it), or an error code with its argument set.
uint32_t TransferFile(const qmNetWait *w, const qmTransferRequest &req, qmTransferResult *out);
