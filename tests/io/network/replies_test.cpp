// URL work and the readers of HTTP and FTP replies, as tables of cases.
#include <gtest/gtest.h>

#include "io/network/replies.h"
#include "runtime/errcodes.h"

TEST(UrlText, EncodingKeepsSafeBytesAndEscapesTheRest) {
  struct Row {
    const char *in, *out;
  } rows[] = {
      {"http://h/a b", "http://h/a%20b"},
      {"http://h/100%", "http://h/100%25"},
      {"http://h/x%20y", "http://h/x%2520y"},  // encoded once more, as scripts expect
      {"http://h/a+b$c,d", "http://h/a%2bb%24c%2cd"},
      {"http://h/\"<>\\^[]`", "http://h/%22%3c%3e%5c%5e%5b%5d%60"},
      {"http://h/{|}~", "http://h/%7b%7c%7d%7e"},
      {"http://h/?q=1&r=2#f", "http://h/?q=1&r=2#f"},
      {"http://h/\xe9", "http://h/%e9"},
  };
  for (const Row &r : rows) EXPECT_EQ(UrlEncode(r.in), r.out) << r.in;
}

TEST(UrlText, Parsing) {
  struct Row {
    const char *url;
    uint32_t code;
    int32_t scheme;
    const char *host;
    int port;
    const char *path, *user, *password;
    int32_t type;
  } rows[] = {
      {"http://example.org", 0, URL_HTTP, "example.org", 80, "/", "", "", 0},
      {"HTTP://Example.org:8080/a/b?c", 0, URL_HTTP, "Example.org", 8080, "/a/b?c", "", "", 0},
      {"ftp://h/pub/f.txt", 0, URL_FTP, "h", 21, "/pub/f.txt", "anonymous", "guest@quenmoor.invalid", 0},
      {"ftp://u:p@h:2121/f;type=A", 0, URL_FTP, "h", 2121, "/f", "u", "p", 'a'},
      {"ftp://u:p:q@h/f;type=i", 0, URL_FTP, "h", 21, "/f", "u", "p:q", 'i'},
      {"ftp://h/f;type=x", ERR_BADURL, 0, "", 0, "", "", "", 0},
      {"ftp://u@h/f", ERR_BADURL, 0, "", 0, "", "", "", 0},
      {"ftp://:p@h/f", ERR_BADURL, 0, "", 0, "", "", "", 0},
      {"ftp://u:@h/f", ERR_BADURL, 0, "", 0, "", "", "", 0},
      {"http://u:p@h/", ERR_BADURL, 0, "", 0, "", "", "", 0},
      {"http://h:x/", ERR_BADURL, 0, "", 0, "", "", "", 0},
      {"http://h:0/", ERR_BADURL, 0, "", 0, "", "", "", 0},
      {"http://h:70000/", ERR_BADURL, 0, "", 0, "", "", "", 0},
      {"http://h:80x/", ERR_BADURL, 0, "", 0, "", "", "", 0},
      {"http://h/a\r\nX-Injected: 1", ERR_BADURL, 0, "", 0, "", "", "", 0},
      {"ftp://h/f\r\nDELE x", ERR_BADURL, 0, "", 0, "", "", "", 0},
      {"gopher://h/", ERR_UNKPROTOCOL, 0, "", 0, "", "", "", 0},
      {"https://h/", ERR_UNKPROTOCOL, 0, "", 0, "", "", "", 0},
      {"http:///x", ERR_BADURL, 0, "", 0, "", "", "", 0},
  };
  for (const Row &r : rows) {
    qmUrl u;
    EXPECT_EQ(ParseUrl(r.url, &u), r.code) << r.url;
    if (r.code) continue;
    EXPECT_EQ(u.scheme, r.scheme) << r.url;
    EXPECT_EQ(u.host, r.host) << r.url;
    EXPECT_EQ(u.port, r.port) << r.url;
    EXPECT_EQ(u.path, r.path) << r.url;
    EXPECT_EQ(u.user, r.user) << r.url;
    EXPECT_EQ(u.password, r.password) << r.url;
    EXPECT_EQ(u.ftpType, r.type) << r.url;
  }
  qmUrl u;
  EXPECT_EQ(ParseUrl("ftp://" + std::string(256, 'u') + ":p@h/f", &u), uint32_t(ERR_BADURL));
  EXPECT_EQ(ParseUrl("ftp://" + std::string(255, 'u') + ":p@h/f", &u), 0u);
}

TEST(UrlText, LocationResolvesAgainstTheCurrentUrl) {
  qmUrl base;
  ASSERT_EQ(ParseUrl("http://h:81/a/b/c?q", &base), 0u);
  struct Row {
    const char *loc, *out;
  } rows[] = {
      {"http://other/x", "http://other/x"},
      {"ftp://other/x", "ftp://other/x"},
      {"//other/y", "http://other/y"},
      {"/root", "http://h:81/root"},
      {"d", "http://h:81/a/b/d"},
      {"../up", "http://h:81/a/b/../up"},
      {"x?y=http://z", "http://h:81/a/b/x?y=http://z"},
  };
  for (const Row &r : rows) EXPECT_EQ(ResolveLocation(base, r.loc), r.out) << r.loc;
}

TEST(HttpReplies, StatusLines) {
  struct Row {
    const char *line;
    uint32_t bad;
    int32_t status;
  } rows[] = {
      {"HTTP/1.1 200 OK", 0, 200},     {"HTTP/1.0 404 Not Found", 0, 404}, {"HTTP/2 301", 0, 301},
      {"ICY 200 OK", 1001, 0},         {"HTTP/x 200", 1002, 0},            {"HTTP/1.1", 1003, 0},
      {"HTTP/1.1\t200", 1003, 0},      {"", 1001, 0},
  };
  for (const Row &r : rows) {
    int32_t status;
    EXPECT_EQ(ParseHttpStatusLine(r.line, &status), r.bad) << r.line;
    if (!r.bad) {
      EXPECT_EQ(status, r.status) << r.line;
    }
  }
}

TEST(HttpReplies, Headers) {
  struct Row {
    const char *line;
    uint32_t code, argument;
    int64_t length;
    bool chunked;
    const char *location;
  } rows[] = {
      {"Content-Length: 1234", 0, 0, 1234, false, ""},
      {"content-length:    77  ", 0, 0, 77, false, ""},
      {"Content-Length: 99999999999999999999", ERR_HTTPERROR, 3001, -1, false, ""},
      {"Content-Length: -5", ERR_HTTPERROR, 3001, -1, false, ""},
      {"Content-Length: 12abc", ERR_HTTPERROR, 3001, -1, false, ""},
      {"Transfer-Encoding: chunked", 0, 0, -1, true, ""},
      {"TRANSFER-ENCODING: Identity", 0, 0, -1, false, ""},
      {"Transfer-Encoding: gzip", ERR_HTTPTE, 0, -1, false, ""},
      {"Location:   /next ", 0, 0, -1, false, "/next"},
      {"X-Other: 1", 0, 0, -1, false, ""},
      {"Content-Lengthy: 5", 0, 0, -1, false, ""},
  };
  for (const Row &r : rows) {
    qmHttpHeaders h;
    uint32_t argument;
    EXPECT_EQ(ParseHttpHeader(r.line, &h, &argument), r.code) << r.line;
    EXPECT_EQ(argument, r.argument) << r.line;
    EXPECT_EQ(h.contentLength, r.length) << r.line;
    EXPECT_EQ(h.chunked, r.chunked) << r.line;
    EXPECT_EQ(h.location, r.location) << r.line;
  }
}

TEST(HttpReplies, ChunkSizes) {
  struct Row {
    const char *line;
    bool ok;
    uint64_t size;
  } rows[] = {
      {"1a", true, 26},          {"1A;name=value", true, 26}, {"0", true, 0},
      {"  ff  ", true, 255},     {"", false, 0},              {";x", false, 0},
      {"7fffffffffffffff", true, 0x7fffffffffffffffull},      {"ffffffffffffffff", false, 0},
      {"10000000000000000", false, 0},
  };
  for (const Row &r : rows) {
    uint64_t size;
    EXPECT_EQ(ParseChunkSize(r.line, &size), r.ok) << r.line;
    if (r.ok) {
      EXPECT_EQ(size, r.size) << r.line;
    }
  }
}

TEST(FtpReplies, MultiLineRepliesFollowTheRfc) {
  struct Row {
    const char *name;
    std::vector<std::string> lines;
    size_t used;  // lines consumed until the reply is complete
    int32_t code;
  } rows[] = {
      {"single", {"220 ready", "x"}, 1, 220},
      {"multi", {"220-a", "220-b", "220 c", "x"}, 3, 220},
      {"other lines inside", {"230-hello", " 230 indented", "999 other code", "230end", "230 done"}, 5, 230},
      {"bare code ends", {"211-status", "211"}, 2, 211},
  };
  for (const Row &r : rows) {
    qmFtpReplyReader reader;
    size_t used = 0;
    uint32_t argument;
    while (!reader.done && used < r.lines.size()) EXPECT_EQ(FeedFtpReplyLine(&reader, r.lines[used++], &argument), 0u);
    EXPECT_TRUE(reader.done) << r.name;
    EXPECT_EQ(used, r.used) << r.name;
    EXPECT_EQ(reader.code, r.code) << r.name;
  }
  qmFtpReplyReader reader;
  uint32_t argument;
  EXPECT_EQ(FeedFtpReplyLine(&reader, "hello", &argument), uint32_t(ERR_FTPERROR));
  EXPECT_EQ(argument, 1u);
}

TEST(FtpReplies, PassiveAndSize) {
  struct Row {
    const char *line;
    bool ok;
    int32_t n[6];
  } rows[] = {
      {"227 Entering Passive Mode (127,0,0,1,200,13).", true, {127, 0, 0, 1, 200, 13}},
      {"227 =10,0,0,2,4,1", true, {10, 0, 0, 2, 4, 1}},
      {"227 (1,2,3,4,5)", false, {}},
      {"227 (1,2,3,4,5,6,7)", false, {}},
      {"227 (1,2,3,4,256,6)", false, {}},
      {"227 (1,2,3,4,99999999999999999999,6)", false, {}},
  };
  for (const Row &r : rows) {
    int32_t n[6];
    EXPECT_EQ(ParsePasvReply(r.line, n), r.ok) << r.line;
    for (int i = 0; r.ok && i < 6; i++) EXPECT_EQ(n[i], r.n[i]) << r.line;
  }
  struct SizeRow {
    const char *line;
    uint64_t size;
  } sizes[] = {
      {"150 Opening BINARY mode data connection for f (1234 bytes).", 1234},
      {"150 Opening data connection for f (77 BYTES)", 77},
      {"150 File status okay.", 0},
      {"150 3 files, 12 bytes left (5)", 0},
      {"150 (99999999999999999999 bytes)", 0},
  };
  for (const SizeRow &s : sizes) EXPECT_EQ(ParseFtpSize(s.line), s.size) << s.line;
}
