// MD5 of 64 MB: the digest over memory and over a file read in 64 KB blocks, the latter
// alternating with coreutils' md5sum on the same file (bench/side_by_side.h).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
#include "io/crc32.h"
#include "io/md5.h"

namespace {

constexpr size_t kSize = size_t(64) << 20;

std::vector<uint8_t> &Data() {
  static std::vector<uint8_t> data = [] {
    std::vector<uint8_t> v(kSize);
    uint32_t x = 12345;
    for (auto &b : v) b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
    return v;
  }();
  return data;
}

// The 64 MB written once to a temporary file (left in the page cache for both readers) and
// removed when the program ends: the holder owns its path, so nothing reads a destroyed string.
struct TempFile {
  std::string path;
  ~TempFile() {
    if (!path.empty()) std::remove(path.c_str());
  }
};

const std::string &DataFile() {
  static TempFile file{[] {
    char name[] = "/tmp/qm_bench_md5_XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) return std::string();
    const std::vector<uint8_t> &d = Data();
    bool ok = write(fd, d.data(), d.size()) == ssize_t(d.size());
    close(fd);
    if (!ok) {
      std::remove(name);
      return std::string();
    }
    return std::string(name);
  }()};
  return file.path;
}

void DigestFile(const std::string &path, char hex[33]) {
  FILE *f = std::fopen(path.c_str(), "rb");
  qmMD5Context ctx;
  MD5Init(&ctx);
  static uint8_t buffer[65536];
  for (size_t n; f && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) MD5Digest(&ctx, buffer, n);
  if (f) std::fclose(f);
  uint8_t digest[16];
  MD5Final(&ctx, digest);
  MD5ToHex(digest, hex);
}

void BM_MD5Memory64MB(benchmark::State &state) {
  const std::vector<uint8_t> &d = Data();
  char hex[33];
  for (auto _ : state) {
    MD5Text(d.data(), d.size(), hex);
    benchmark::DoNotOptimize(hex);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}
BENCHMARK(BM_MD5Memory64MB)->Unit(benchmark::kMillisecond);

void BM_MD5File64MB(benchmark::State &state) {
  const std::string &path = DataFile();
  if (path.empty()) {
    state.SkipWithError("no temporary file");
    return;
  }
  char hex[33];
  for (auto _ : state) {
    DigestFile(path, hex);
    benchmark::DoNotOptimize(hex);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}
BENCHMARK(BM_MD5File64MB)->Unit(benchmark::kMillisecond);

// Md5sum of the same file (a whole process, its CPU time counted as a waited-for child) beside
// our file digest, in alternating order; the two digests are compared once before timing.
bool RunMd5sum(const std::string &path, std::string *digest) {
  FILE *p = popen(("md5sum " + path).c_str(), "r");
  char out[128] = {};
  bool ok = p && std::fgets(out, sizeof out, p) != nullptr;
  if (p) ok = pclose(p) == 0 && ok;
  if (digest) *digest = std::string(out, 32);
  return ok;
}

void BM_MD5FileVersusMd5sum64MB(benchmark::State &state) {
  const std::string &path = DataFile();
  char ours[33];
  DigestFile(path, ours);
  std::string theirs;
  if (path.empty() || !RunMd5sum(path, &theirs)) {
    state.SkipWithError("no temporary file or no md5sum");
    return;
  }
  if (theirs != ours) {
    state.SkipWithError("md5sum disagrees");
    return;
  }
  qmSideBySide s;
  for (auto _ : state) s.Round(state, [&] { DigestFile(path, ours); }, [&] { RunMd5sum(path, nullptr); });
  s.Report(state, "md5sum");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}
BENCHMARK(BM_MD5FileVersusMd5sum64MB)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CRC32Memory64MB(benchmark::State &state) {
  const std::vector<uint8_t> &d = Data();
  for (auto _ : state) benchmark::DoNotOptimize(CRC32Block(d.data(), d.size()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}
BENCHMARK(BM_CRC32Memory64MB)->Unit(benchmark::kMillisecond);

}  // namespace
