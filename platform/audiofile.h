// Sound files in the formats the program does not read itself (WAVE variants, AIFF, FLAC, Ogg,
// MP3, AAC, AC-3 ...), decoded to 16-bit signed native-order PCM, mono or stereo, at the file's
// own rate. Plain paths and ":::chunk" windows are read through one file handle.
#pragma once
#include <cstddef>
#include <cstdint>

struct qmSoundFile;

struct qmSoundFileInfo {
  uint32_t rate;
  uint32_t channels;  // 1 or 2 (more are mixed down to two)
  uint32_t bits;      // 16
  uint64_t frames;    // from the container's duration; reading may end a little off it
  uint32_t bitRate;   // kbit/s, 0 when unknown or plain PCM
  int32_t seekable;
};

// 0, ERR_READFILE (no such file), ERR_UNKNOWNMUSFMT (no decoder takes it, or FFmpeg is not
// installed: its libraries are opened at the first file), ERR_AFILEPROP (no
// audio stream, or no length) or ERR_MEM.
uint32_t OpenSoundFile(const char *name, qmSoundFileInfo *info, qmSoundFile **out);
// Frames read into buffer (channels x 2 bytes each); *end set when fewer than asked remained.
uint64_t ReadSoundFile(qmSoundFile *f, void *buffer, uint64_t frames, int *end);
// The next read starts at frame (frames past the end are ignored).
void SeekSoundFile(qmSoundFile *f, uint64_t frame);
void CloseSoundFile(qmSoundFile *f);
// The container's name: "AIFF", "AIFC", "RIFF WAVE", "MPEG Audio", "AAC ADTS", "AC-3", "NeXT",
// "Core Audio", else "Mac Audio File".
const char *GetSoundFileFormatName(const qmSoundFile *f);

// The head of an MPEG audio file: where the audio starts behind an ID3 version 2 tag, the bit
// rate of the first frame (kbit/s, 0 when no frame sync is there) and whether a Xing or VBRI
// header marks a variable bit rate.
struct qmMpegHead {
  uint64_t audioOffset;
  uint32_t bitRate;
  int32_t variable;
};
void AnalyseMpegHead(const uint8_t *head, size_t size, qmMpegHead *out);
