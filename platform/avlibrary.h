// FFmpeg as the player opens it: at the first sound file or movie that needs it, never at
// start-up (libavformat alone brings over a hundred shared objects, and most scripts decode
// neither). Every FFmpeg function the player calls is a pointer of one table, resolved once.
#ifndef QM_PLATFORM_AVLIBRARY_H
#define QM_PLATFORM_AVLIBRARY_H

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

// The libraries, by the SONAME of the major version the headers describe.
enum qmAvLibrary { kAvFormat, kAvCodec, kSwResample, kSwScale, kAvUtil, kAvLibraryCount };

// Every FFmpeg function the player calls, with the library that exports it.
#define QM_AV_FUNCTIONS(X) \
  X(kAvFormat, avio_alloc_context) \
  X(kAvFormat, avio_context_free) \
  X(kAvFormat, avio_seek) \
  X(kAvFormat, avformat_alloc_context) \
  X(kAvFormat, avformat_open_input) \
  X(kAvFormat, avformat_find_stream_info) \
  X(kAvFormat, av_find_best_stream) \
  X(kAvFormat, av_read_frame) \
  X(kAvFormat, av_seek_frame) \
  X(kAvFormat, avformat_close_input) \
  X(kAvCodec, avcodec_find_decoder) \
  X(kAvCodec, avcodec_alloc_context3) \
  X(kAvCodec, avcodec_parameters_to_context) \
  X(kAvCodec, avcodec_open2) \
  X(kAvCodec, avcodec_send_packet) \
  X(kAvCodec, avcodec_receive_frame) \
  X(kAvCodec, avcodec_flush_buffers) \
  X(kAvCodec, avcodec_free_context) \
  X(kAvCodec, av_packet_alloc) \
  X(kAvCodec, av_packet_unref) \
  X(kAvCodec, av_packet_free) \
  X(kSwResample, swr_alloc_set_opts2) \
  X(kSwResample, swr_init) \
  X(kSwResample, swr_get_out_samples) \
  X(kSwResample, swr_convert) \
  X(kSwResample, swr_free) \
  X(kSwScale, sws_getCachedContext) \
  X(kSwScale, sws_scale) \
  X(kSwScale, sws_freeContext) \
  X(kAvUtil, av_log_set_level) \
  X(kAvUtil, av_max_alloc) \
  X(kAvUtil, av_malloc) \
  X(kAvUtil, av_free) \
  X(kAvUtil, av_freep) \
  X(kAvUtil, av_frame_alloc) \
  X(kAvUtil, av_frame_unref) \
  X(kAvUtil, av_frame_free) \
  X(kAvUtil, av_channel_layout_default) \
  X(kAvUtil, av_channel_layout_uninit) \
  X(kAvUtil, av_rescale) \
  X(kAvUtil, av_rescale_q)

// Typed from the headers' own declarations, so that a pointer cannot drift from its function.
struct qmAvFunctions {
#define QM_AV_POINTER(library, name) decltype(&::name) name;
  QM_AV_FUNCTIONS(QM_AV_POINTER)
#undef QM_AV_POINTER
};

// The table, opening the libraries at the first call (from any thread); null when a library or
// one of its functions is missing, then and on every later call. The libraries stay loaded for
// the life of the process.
const qmAvFunctions *AvLibrary();

// The most FFmpeg allocates at once once loaded: a file's header may ask for any size (a chunk
// length read as the size of the data to come), and the largest picture played, 8K at 4 bytes
// a pixel, takes about half of it.
inline constexpr size_t kAvMaxAllocation = size_t(256) << 20;

// Opens the libraries named (one SONAME per qmAvLibrary) into `table`: 0, or -1 when one is
// missing. AvLibrary() calls it with the installed versions' names. FFmpeg's allocations are
// bounded by kAvMaxAllocation from then on.
int LoadAvLibrary(const char *const names[kAvLibraryCount], qmAvFunctions *table);

#endif
