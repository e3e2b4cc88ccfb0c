#include "io/network/transfer.h"

#include <arpa/inet.h>

#include <cstdio>

#include "io/network/replies.h"
#include "platform/errorarg.h"
#include "platform/file.h"
#include "platform/time.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"

namespace {

constexpr uint64_t kLineLimit = 1023;
constexpr int kMaxRedirects = 5;
// A reply head longer than this is a peer that never means to end it.
constexpr int kMaxHeaders = 256;
constexpr int kMaxInterimReplies = 16;  // "100 Continue" heads before the real one
// A memory download reserves at most this much from a Content-Length; the rest grows with
// what actually arrives, doubling up to the announced length and no further while it holds.
constexpr uint64_t kMaxReserve = 1 << 20;
// The pieces in which a download's progress callback sees the body: HTTP reads through the
// connection's buffer, FTP data in half of it.
constexpr uint32_t kHttpPiece = 8192, kFtpPiece = 4096;

// A connection of the transfer's own: no script events, closed when it goes out of scope.
struct OwnConnection {
  qmConnection c{};
  OwnConnection() { c.closedEvent = c.dataEvent = 1; }
  ~OwnConnection() { Close(); }
  void Close() {
    FreeTcpSocket(c.socket);
    c.socket = nullptr;
  }
};

uint32_t WithNumber(uint32_t code, uint32_t number) {
  SetErrorNumber(number);
  return code;
}

uint32_t WithText(uint32_t code, const std::string &text) {
  SetPlatformErrorArgument(text.c_str());
  return code;
}

struct Transfer {
  const qmNetWait *w;
  const qmTransferRequest &req;
  qmTransferResult *out;
  qmFileHandle *file = nullptr;

  ~Transfer() {
    if (file) FileClose(file);
  }

  // Closes the download's file; a failed close lost bytes that were counted as written.
  uint32_t CloseOutput() {
    if (!file) return 0;
    int ok = FileClose(file);
    file = nullptr;
    return ok ? 0 : WithText(ERR_WRITEFILE, req.outFile);
  }

  // A reply must be complete within the network time-out from now (0: no limit), however
  // slowly its bytes trickle in.
  double ReplyDeadline() const { return w->timeoutMs ? GetTimeSeconds() + w->timeoutMs / 1000.0 : 0; }

  // A body, sent or received, keeps the pace of qmNetPace from now until PaceEnds.
  void PaceStarts() { StartPace(w->pace, w->timeoutMs); }
  void PaceEnds() { w->pace->deadline = 0; }

  uint32_t Connect(OwnConnection *oc, const std::string &host, uint16_t port) {
    oc->Close();
    return ConnectTcpSocket(host.c_str(), port, w->timeoutMs, w, &oc->c.socket);
  }

  uint32_t Send(OwnConnection *oc, const std::string &bytes) {
    size_t sent;
    int st;
    if (uint32_t code = SendWithProgress(w, &oc->c, bytes.data(), bytes.size(), &sent, &st)) return code;
    return st || sent != bytes.size() ? uint32_t(ERR_SENDDATA) : 0;
  }

  // One reply line before the deadline; a line over the limit is the reply error given with
  // its number.
  uint32_t Line(OwnConnection *oc, std::string *line, double deadline, uint32_t replyError, uint32_t overlong) {
    qmByteBuffer bytes;
    qmNetSink sink{&bytes, nullptr, nullptr};
    uint64_t got;
    int st;
    uint32_t saved = oc->c.progress;
    oc->c.progress = 0;
    qmNetWait limited = *w;
    limited.deadline = deadline;
    uint32_t code = ReceiveWithProgress(&limited, &oc->c, RECEIVELINE, 0, 1, &sink, kLineLimit, &got, &st);
    oc->c.progress = saved;
    *line = bytes.Text();
    if (code == ERR_MEM) return WithNumber(replyError, overlong);
    return code ? code : ReceiveStatusError(st);
  }

  static uint32_t WriteFile(void *ud, const uint8_t *data, size_t length) {
    auto *t = static_cast<Transfer *>(ud);
    if (FileWrite(t->file, data, length) == length) return 0;
    return WithText(ERR_WRITEFILE, t->req.outFile);
  }

  uint32_t OpenOutput() {
    if (req.outFile.empty()) return 0;
    file = FileOpen(req.outFile.c_str(), FILE_MODE_WRITE);
    return file ? 0 : WithText(ERR_WRITEFILE, req.outFile);
  }

  qmNetSink Sink() {
    if (file) return qmNetSink{nullptr, this, WriteFile};
    return qmNetSink{&out->data, nullptr, nullptr};
  }

  // A download's callback sees the body in pieces of the given size.
  void StartProgress(OwnConnection *oc, uint64_t total, uint32_t piece) {
    oc->c.progress = req.progress;
    oc->c.progressPiece = piece;
    oc->c.progressCount = 0;
    oc->c.progressTotal = total;
    oc->c.progressUserData = req.progressUserData;
  }

  // Receives exactly count bytes (discard: into a scratch string, neither counted nor
  // reported: the script's count is the body's).
  uint32_t Exactly(OwnConnection *oc, uint64_t count, bool discard) {
    if (count == 0) return 0;
    qmByteBuffer scratch;
    qmNetSink sink = discard ? qmNetSink{&scratch, nullptr, nullptr} : Sink();
    uint64_t got;
    int st;
    uint32_t saved = oc->c.progress;
    if (discard) oc->c.progress = 0;
    uint32_t code = ReceiveWithProgress(w, &oc->c, RECEIVEBYTES, count, 1, &sink, 0, &got, &st);
    oc->c.progress = saved;
    if (!discard) out->count += got;
    return code ? code : ReceiveStatusError(st);
  }

  // Everything until the peer closes.
  uint32_t ToClose(OwnConnection *oc) {
    qmNetSink sink = Sink();
    uint64_t got;
    int st;
    uint32_t code = ReceiveWithProgress(w, &oc->c, RECEIVEALL, 0, 1, &sink, 0, &got, &st);
    out->count += got;
    if (code) return code;
    return st == SOCK_CLOSED ? 0 : ReceiveStatusError(st);
  }

  uint32_t Http(const qmUrl &url, const std::string &sendUrl, bool follow, int *redirectTo, std::string *location);
  uint32_t HttpBody(OwnConnection *oc, const qmHttpHeaders &h);
  uint32_t Ftp(const qmUrl &url);
  uint32_t FtpReply(OwnConnection *oc, int32_t *code, std::string *last);
  uint32_t FtpCommand(OwnConnection *oc, const std::string &command, int32_t *code, std::string *last);
};

uint32_t Transfer::Http(const qmUrl &url, const std::string &sendUrl, bool follow, int *redirectTo,
                       std::string *location) {
  *redirectTo = 0;
  OwnConnection oc;
  std::string target, hostHeader;
  if (!req.proxy.empty()) {
    qmUrl proxy;
    if (ParseUrl(req.proxy, &proxy) != 0 || proxy.scheme != URL_HTTP) return ERR_WRONGUSAGE;
    if (uint32_t code = Connect(&oc, proxy.host, proxy.port)) return code;
    target = sendUrl;
    hostHeader = url.hostPart;
  } else {
    if (uint32_t code = Connect(&oc, url.host, url.port)) return code;
    size_t slash = sendUrl.find('/', sendUrl.find("://") + 3);
    target = slash == std::string::npos ? "/" : sendUrl.substr(slash);
    hostHeader = url.port == 80 ? url.host : url.host + ":" + std::to_string(url.port);
  }
  std::string head = (req.post ? "POST " : "GET ") + target + " HTTP/1.1\r\n";
  head += "TE: trailers\r\nConnection: close, TE\r\nHost: " + hostHeader + "\r\nUser-Agent: " + req.userAgent + "\r\n";
  if (req.post)
    head += "Content-Type: " + req.postType + "\r\nContent-Length: " + std::to_string(req.postData.size()) + "\r\n";
  head += "\r\n";
  if (uint32_t code = Send(&oc, head)) return code;
  if (req.post) {
    PaceStarts();
    if (uint32_t code = Send(&oc, req.postData)) return code;
    PaceEnds();
  }

  std::string line;
  int32_t status = 0;
  qmHttpHeaders h;
  uint32_t argument;
  double deadline = ReplyDeadline();
  for (int interim = 0;; interim++) {
    if (interim > kMaxInterimReplies) return WithNumber(ERR_HTTPERROR, 3004);
    if (uint32_t code = Line(&oc, &line, deadline, ERR_HTTPERROR, 3002)) return code;
    if (uint32_t bad = ParseHttpStatusLine(line, &status)) return WithNumber(ERR_HTTPERROR, bad);
    h = qmHttpHeaders{};
    for (int headers = 0;; headers++) {
      if (headers > kMaxHeaders) return WithNumber(ERR_HTTPERROR, 3003);
      if (uint32_t code = Line(&oc, &line, deadline, ERR_HTTPERROR, 3002)) return code;
      if (line.empty()) break;
      if (uint32_t code = ParseHttpHeader(line, &h, &argument)) return argument ? WithNumber(code, argument) : code;
    }
    if (status != 100) break;
  }
  if (status == 404 && req.fail404) return WithText(ERR_FILENOTFOUND, url.path);
  if (!h.location.empty() && (status == 301 || status == 302) && req.redirect && follow) {
    *redirectTo = 1;
    *location = h.location;
    return 0;
  }
  if (status == 204 || status == 304 || (status >= 100 && status <= 199)) return WithNumber(ERR_HTTPERROR, uint32_t(status));
  return HttpBody(&oc, h);
}

uint32_t Transfer::HttpBody(OwnConnection *oc, const qmHttpHeaders &h) {
  if (uint32_t code = OpenOutput()) return code;
  PaceStarts();
  StartProgress(oc, h.contentLength > 0 ? uint64_t(h.contentLength) : 16384, kHttpPiece);
  if (!file && !h.chunked && h.contentLength >= 0 && uint64_t(h.contentLength) <= SIZE_MAX - out->data.length)
    out->data.expected = out->data.length + size_t(h.contentLength);
  if (!file && h.contentLength > 0 && !out->data.Reserve(size_t(std::min<uint64_t>(uint64_t(h.contentLength), kMaxReserve))))
    return ERR_MEM;
  if (!h.chunked) {
    if (h.contentLength >= 0) return Exactly(oc, uint64_t(h.contentLength), false);
    return ToClose(oc);
  }
  std::string line;
  for (;;) {
    if (uint32_t code = Line(oc, &line, ReplyDeadline(), ERR_HTTPERROR, 3002)) return code;
    uint64_t size;
    if (!ParseChunkSize(line, &size)) return WithNumber(ERR_HTTPERROR, 3000);
    if (size == 0) return 0;
    if (uint32_t code = Exactly(oc, size, false)) return code;
    if (uint32_t code = Exactly(oc, 2, true)) return code;
  }
}

uint32_t Transfer::FtpReply(OwnConnection *oc, int32_t *code, std::string *last) {
  qmFtpReplyReader r;
  std::string line;
  double deadline = ReplyDeadline();
  while (!r.done) {
    if (uint32_t e = Line(oc, &line, deadline, ERR_FTPERROR, 3)) return e;
    uint32_t argument;
    if (uint32_t e = FeedFtpReplyLine(&r, line, &argument)) return WithNumber(e, argument);
  }
  *code = r.code;
  if (last) *last = r.last;
  return 0;
}

uint32_t Transfer::FtpCommand(OwnConnection *oc, const std::string &command, int32_t *code, std::string *last) {
  if (uint32_t e = Send(oc, command + "\r\n")) return e;
  return FtpReply(oc, code, last);
}

uint32_t Transfer::Ftp(const qmUrl &url) {
  auto fail = [](uint32_t n) { return WithNumber(ERR_FTPERROR, n); };
  OwnConnection control, data;
  if (uint32_t e = Connect(&control, url.host, url.port)) return e;
  int32_t code;
  std::string text;
  if (uint32_t e = FtpReply(&control, &code, nullptr)) return e;
  if (code / 100 == 1)
    if (uint32_t e = FtpReply(&control, &code, nullptr)) return e;
  if (code / 100 != 2) return fail(0);
  if (uint32_t e = FtpCommand(&control, "user " + url.user, &code, nullptr)) return e;
  if (code == 331) {
    if (uint32_t e = FtpCommand(&control, "pass " + url.password, &code, nullptr)) return e;
    if (code == 530) return ERR_FTPAUTH;
  }
  if (code / 100 != 2) return fail(0);
  if (uint32_t e = FtpCommand(&control, "pasv", &code, &text)) return e;
  if (code / 100 != 2) return fail(0);
  int32_t n[6];
  if (!ParsePasvReply(text, n)) return fail(2);
  // The data connection goes to the control connection's peer: a reply that names another
  // host is never followed.
  sockaddr_in peer{};
  socklen_t peerLength = sizeof peer;
  if (getpeername(control.c.socket->handle, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0) return fail(0);
  uint16_t dataPort = uint16_t(n[4] * 256 + n[5]);
  if (dataPort == 0) return fail(2);
  if (uint32_t e = Connect(&data, FormatDottedAddress(peer.sin_addr), dataPort)) return e;
  int32_t mode = url.ftpType ? url.ftpType : req.transferMode;
  if (uint32_t e = FtpCommand(&control, std::string("type ") + (mode == FTPASCII ? "a" : "i"), &code, nullptr)) return e;
  if (code != 200) return fail(0);
  if (uint32_t e = FtpCommand(&control, (req.upload ? "stor " : "retr ") + url.path, &code, &text)) return e;
  if (code < 100 || code > 299) {
    if (code == 550) return WithText(req.upload ? ERR_UPLOADFORBIDDEN : ERR_FILENOTFOUND, url.path);
    return fail(0);
  }
  int32_t transferReply = code;
  PaceStarts();
  if (!req.upload) {
    if (uint32_t e = OpenOutput()) return e;
    StartProgress(&data, code == 150 ? ParseFtpSize(text) : 0, kFtpPiece);
    if (uint32_t e = ToClose(&data)) return e;
  } else {
    StartProgress(&data, req.inFile ? req.inSize : req.inData.size(), 0);
    uint64_t total = 0;
    if (req.inFile) {
      std::string piece(kNetBufferSize, '\0');
      for (;;) {
        uint64_t got = FileRead(req.inFile, piece.data(), piece.size());
        if (got == 0) break;
        size_t sent;
        int st;
        if (uint32_t e = SendWithProgress(w, &data.c, piece.data(), size_t(got), &sent, &st)) return e;
        total += sent;
        if (st || sent != got) break;
      }
      if (total != req.inSize) return ERR_SENDDATA;
    } else {
      size_t sent;
      int st;
      if (uint32_t e = SendWithProgress(w, &data.c, req.inData.data(), req.inData.size(), &sent, &st)) return e;
      if (st || sent != req.inData.size()) return ERR_SENDDATA;
    }
  }
  data.Close();
  PaceEnds();
  if (transferReply / 100 == 1) {
    if (uint32_t e = FtpReply(&control, &code, nullptr)) return e;
    if (code / 100 != 2) return fail(0);
  }
  std::string quit = "quit\r\n";
  size_t sent;
  int st;
  SendWithProgress(w, &control.c, quit.data(), quit.size(), &sent, &st);
  return 0;
}

}  // namespace

uint32_t TransferFile(const qmNetWait *w, const qmTransferRequest &req, qmTransferResult *out) {
  qmNetPace pace{0, 0};
  qmNetWait paced = *w;
  paced.pace = &pace;
  Transfer t{&paced, req, out};
  if (!IsSafeHeaderText(req.userAgent) || !IsSafeHeaderText(req.postType) || !IsSafeHeaderText(req.proxy))
    return ERR_WRONGUSAGE;
  std::string raw = req.url, sendUrl = UrlEncode(req.url);
  uint32_t code = 0;
  for (int followed = 0;; followed++) {
    qmUrl url;
    if ((code = ParseUrl(raw, &url))) break;
    if ((req.upload && url.scheme != URL_FTP) || (!req.proxy.empty() && url.scheme == URL_FTP) ||
        (!req.proxy.empty() && req.proxy.compare(0, 7, "http://") != 0)) {
      code = ERR_WRONGUSAGE;
      break;
    }
    if (url.scheme == URL_FTP) {
      code = t.Ftp(url);
      break;
    }
    int again;
    std::string location;
    // After five redirects the next answer is taken as it is.
    code = t.Http(url, sendUrl, followed < kMaxRedirects, &again, &location);
    if (code || !again) break;
    raw = sendUrl = ResolveLocation(url, location);
  }
  if (code == kTransferStopped) code = 0;
  uint32_t closed = t.CloseOutput();
  return code ? code : closed;
}
