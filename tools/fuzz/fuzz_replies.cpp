// libFuzzer target: any bytes as what an HTTP or FTP server answers. The first byte picks the
// reader; the rest is split into lines as the client splits them. Every outcome must be a
// result or an error code, never a read past the input or an overflow.
#include <cstdint>
#include <string>

#include "io/network/replies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  std::string line;
  qmHttpHeaders headers;
  qmFtpReplyReader reply;
  qmUrl url;
  uint32_t argument;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    switch (data[0] % 6) {
      case 0: {
        int32_t status;
        ParseHttpStatusLine(line, &status);
        break;
      }
      case 1: ParseHttpHeader(line, &headers, &argument); break;
      case 2: {
        uint64_t chunk;
        ParseChunkSize(line, &chunk);
        break;
      }
      case 3:
        if (reply.done) reply = qmFtpReplyReader{};
        FeedFtpReplyLine(&reply, line, &argument);
        break;
      case 4: {
        int32_t numbers[6];
        ParsePasvReply(line, numbers);
        ParseFtpSize(line);
        break;
      }
      case 5:
        if (ParseUrl(line, &url) == 0) ResolveLocation(url, text);
        UrlEncode(line);
        break;
    }
  }
  return 0;
}
