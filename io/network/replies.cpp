#include "io/network/replies.h"

#include <cctype>
#include <cstring>
#include <strings.h>

#include "runtime/errcodes.h"

namespace {

bool StartsWithNoCase(const std::string &text, size_t at, const char *prefix) {
  size_t n = std::strlen(prefix);
  return at <= text.size() && text.size() - at >= n && strncasecmp(text.c_str() + at, prefix, n) == 0;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A decimal run at text[i..]: false when there is none or it does not fit in 63 bits.
bool ParseDecimal(const std::string &text, size_t *i, uint64_t *out) {
  size_t start = *i;
  uint64_t v = 0;
  while (*i < text.size() && IsDigit(text[*i])) {
    uint64_t d = uint64_t(text[*i] - '0');
    if (v > (uint64_t(INT64_MAX) - d) / 10) return false;
    v = v * 10 + d;
    ++*i;
  }
  *out = v;
  return *i > start;
}

std::string AfterBlanks(const std::string &line, size_t at) {
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) at++;
  size_t end = line.size();
  while (end > at && (line[end - 1] == ' ' || line[end - 1] == '\t')) end--;
  return line.substr(at, end - at);
}

}  // namespace

std::string UrlEncode(const std::string &url) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(url.size());
  for (unsigned char c : url) {
    if (c >= 33 && c <= 122 && !std::strchr("\"<>%\\^[]`+$,", c)) {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool IsSafeHeaderText(const std::string &text) { return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos; }

uint32_t ParseUrl(const std::string &text, qmUrl *out) {
  *out = qmUrl{};
  size_t at;
  if (StartsWithNoCase(text, 0, "http://")) {
    out->scheme = URL_HTTP;
    out->port = 80;
    at = 7;
  } else if (StartsWithNoCase(text, 0, "ftp://")) {
    out->scheme = URL_FTP;
    out->port = 21;
    at = 6;
  } else {
    return ERR_UNKPROTOCOL;
  }
  if (!IsSafeHeaderText(text)) return ERR_BADURL;
  size_t slash = text.find('/', at);
  out->hostPart = text.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
  out->path = slash == std::string::npos ? "/" : text.substr(slash);
  if (out->scheme == URL_FTP && out->path.size() > 7 && StartsWithNoCase(out->path, out->path.size() - 7, ";type=")) {
    char t = char(tolower(static_cast<unsigned char>(out->path.back())));
    if (t != 'a' && t != 'i') return ERR_BADURL;
    out->ftpType = t;
    out->path.resize(out->path.size() - 7);
  }
  std::string host = out->hostPart;
  size_t atSign = host.rfind('@');
  if (atSign != std::string::npos) {
    if (out->scheme == URL_HTTP) return ERR_BADURL;
    std::string info = host.substr(0, atSign);
    size_t colon = info.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == info.size()) return ERR_BADURL;
    out->user = info.substr(0, colon);
    out->password = info.substr(colon + 1);
    if (out->user.size() > 255 || out->password.size() > 255) return ERR_BADURL;
    host = host.substr(atSign + 1);
  } else if (out->scheme == URL_FTP) {
    out->user = "anonymous";
    out->password = "guest@quenmoor.invalid";
  }
  size_t colon = host.find(':');
  if (colon != std::string::npos) {
    size_t i = colon + 1;
    uint64_t port;
    if (!ParseDecimal(host, &i, &port) || i != host.size() || port < 1 || port > 65535) return ERR_BADURL;
    out->port = uint16_t(port);
    host.resize(colon);
  }
  if (host.empty()) return ERR_BADURL;
  out->host = host;
  return 0;
}

std::string ResolveLocation(const qmUrl &base, const std::string &location) {
  size_t scheme = location.find("://");
  bool absolute = scheme != std::string::npos && scheme > 0;
  for (size_t i = 0; absolute && i < scheme; i++) absolute = isalpha(static_cast<unsigned char>(location[i])) != 0;
  if (absolute) return location;
  std::string origin = std::string(base.scheme == URL_FTP ? "ftp://" : "http://") + base.hostPart;
  if (location.compare(0, 2, "//") == 0) return (base.scheme == URL_FTP ? "ftp:" : "http:") + location;
  if (!location.empty() && location[0] == '/') return origin + location;
  std::string folder = base.path.substr(0, base.path.find_first_of("?#"));
  folder.resize(folder.rfind('/') + 1);
  return origin + folder + location;
}

uint32_t ParseHttpStatusLine(const std::string &line, int32_t *status) {
  *status = 0;
  if (line.compare(0, 5, "HTTP/") != 0) return 1001;
  size_t i = 5;
  size_t digits = 0;
  while (i < line.size() && (IsDigit(line[i]) || line[i] == '.')) digits += IsDigit(line[i++]);
  if (digits == 0) return 1002;
  if (i >= line.size() || line[i] != ' ') return 1003;
  i++;
  int32_t v = 0;
  for (int n = 0; i < line.size() && IsDigit(line[i]) && n < 9; i++, n++) v = v * 10 + (line[i] - '0');
  *status = v;
  return 0;
}

uint32_t ParseHttpHeader(const std::string &line, qmHttpHeaders *h, uint32_t *argument) {
  *argument = 0;
  if (StartsWithNoCase(line, 0, "content-length: ")) {
    std::string v = AfterBlanks(line, 16);
    size_t i = 0;
    uint64_t n;
    if (!ParseDecimal(v, &i, &n) || i != v.size()) {
      *argument = 3001;
      return ERR_HTTPERROR;
    }
    // Two lengths that disagree leave the body's end unknown.
    if (h->contentLength >= 0 && uint64_t(h->contentLength) != n) {
      *argument = 3005;
      return ERR_HTTPERROR;
    }
    h->contentLength = int64_t(n);
  } else if (StartsWithNoCase(line, 0, "transfer-encoding: ")) {
    std::string v = AfterBlanks(line, 19);
    if (strcasecmp(v.c_str(), "chunked") == 0) h->chunked = true;
    else if (strcasecmp(v.c_str(), "identity") != 0) return ERR_HTTPTE;
  } else if (StartsWithNoCase(line, 0, "location: ")) {
    h->location = AfterBlanks(line, 10);
  }
  return 0;
}

bool ParseChunkSize(const std::string &line, uint64_t *size) {
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) i++;
  uint64_t v = 0;
  size_t start = i;
  for (int d; i < line.size() && (d = HexValue(line[i])) >= 0; i++) {
    if (v > (uint64_t(INT64_MAX) >> 4)) return false;
    v = v << 4 | uint64_t(d);
  }
  *size = v;
  return i > start;
}

uint32_t FeedFtpReplyLine(qmFtpReplyReader *r, const std::string &line, uint32_t *argument) {
  *argument = 0;
  if (++r->lines > kMaxFtpReplyLines) {
    *argument = 4;
    return ERR_FTPERROR;
  }
  r->last = line;
  bool coded = line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]);
  if (r->code == 0) {
    if (!coded) {
      *argument = 1;
      return ERR_FTPERROR;
    }
    r->code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    r->multi = line.size() > 3 && line[3] == '-';
    r->done = !r->multi;
    return 0;
  }
  if (coded && (line.size() == 3 || line[3] == ' ') &&
      (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0') == r->code)
    r->done = true;
  return 0;
}

bool ParsePasvReply(const std::string &line, int32_t numbers[6]) {
  int count = 0;
  for (size_t i = 4; i < line.size();) {
    if (!IsDigit(line[i])) {
      i++;
      continue;
    }
    int32_t v = 0;
    for (; i < line.size() && IsDigit(line[i]); i++) {
      v = v * 10 + (line[i] - '0');
      if (v > 255) return false;
    }
    if (count == 6) return false;
    numbers[count++] = v;
  }
  return count == 6;
}

uint64_t ParseFtpSize(const std::string &line) {
  size_t end = line.size();
  while (end > 0 && !IsDigit(line[end - 1])) end--;
  if (end == 0) return 0;
  size_t start = end;
  while (start > 0 && IsDigit(line[start - 1])) start--;
  if (!StartsWithNoCase(line, end, " bytes")) return 0;
  size_t i = start;
  uint64_t v;
  return ParseDecimal(line, &i, &v) ? v : 0;
}
