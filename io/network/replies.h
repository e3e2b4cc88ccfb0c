// Pure text work of the HTTP and FTP client: URL encoding, parsing and resolving, and the
// reading of status lines, headers, chunk sizes and FTP replies. Everything here takes bytes
// from scripts or servers, so every function checks what it reads.
#pragma once
#include <cstdint>
#include <string>

// Bytes 33..122 stay unless they are one of " < > % \ ^ [ ] ` + $ ,; all others become "%xx".
std::string UrlEncode(const std::string &url);

enum : int32_t { URL_HTTP = 1, URL_FTP = 2 };

struct qmUrl {
  int32_t scheme;       // URL_HTTP or URL_FTP
  std::string hostPart; // after the scheme up to the first "/", as written (port included)
  std::string host;     // without user information and port
  uint16_t port;
  std::string path;     // from the first "/"; "/" when there is none
  std::string user, password;  // FTP only; anonymous when the URL names none
  int32_t ftpType;             // 'a' or 'i' from ";type=", 0 when not given
};

// 0, ERR_UNKPROTOCOL or ERR_BADURL. CR, LF and NUL anywhere, a port outside 1..65535, and
// user names or passwords over 255 bytes are ERR_BADURL.
uint32_t ParseUrl(const std::string &text, qmUrl *out);
// A Location value against the URL it answered: absolute ("scheme://"), absolute path ("/x"),
// or relative to the current path's folder.
std::string ResolveLocation(const qmUrl &base, const std::string &location);
// False when the text holds CR, LF or NUL (header and command injection).
bool IsSafeHeaderText(const std::string &text);

// "HTTP/<number> <status>": 0 with the status, or 1001 (no "HTTP/"), 1002 (no number),
// 1003 (no blank after it).
uint32_t ParseHttpStatusLine(const std::string &line, int32_t *status);

struct qmHttpHeaders {
  int64_t contentLength = -1;  // -1: not given
  bool chunked = false;
  std::string location;
};
// One header line: 0, ERR_HTTPTE (unknown transfer coding) or ERR_HTTPERROR (a bad
// Content-Length, argument 3001 in *argument; one that differs from an earlier, 3005).
uint32_t ParseHttpHeader(const std::string &line, qmHttpHeaders *h, uint32_t *argument);
// A chunk-size line: hexadecimal, extensions after it ignored. False without digits or when
// the size does not fit in 63 bits.
bool ParseChunkSize(const std::string &line, uint64_t *size);

// FTP replies (RFC 959): a reply is one line "ddd text", or "ddd-text" followed by any lines
// up to one that begins with the same code and a blank.
struct qmFtpReplyReader {
  int32_t code = 0;       // of the first line; 0 until a line came
  bool multi = false;
  bool done = false;
  std::string last;       // the last line
  uint32_t lines = 0;
};
// A multi-line reply longer than this is refused: a peer could otherwise keep it open for ever.
inline constexpr uint32_t kMaxFtpReplyLines = 1000;
// Feeds one line: 0, or ERR_FTPERROR with *argument 1 when the first line has no code, 4 when
// the reply runs past kMaxFtpReplyLines.
uint32_t FeedFtpReplyLine(qmFtpReplyReader *r, const std::string &line, uint32_t *argument);
// The six numbers of a "227" reply text (from its fifth character), each 0..255; false when
// there are not exactly six.
bool ParsePasvReply(const std::string &line, int32_t numbers[6]);
// The size in a 150 reply: the last run of digits when " bytes" (any case) follows it; else 0.
uint64_t ParseFtpSize(const std::string &line);
