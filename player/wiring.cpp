#include "player/wiring.h"

#include <cstring>

#include "display/bgpic/lib_bgpic.h"
#include "display/brush.h"
#include "display/display.h"
#include "display/display/displaylib.h"
#include "display/scene.h"
#include "display/displayops.h"
#include "display/displaywindow.h"
#include "io/dos/lib_dos.h"
#include "io/memblock/lib_memblock.h"
#include "layers/layers/lib_layers.h"
#include "layers/objectlayers.h"
#include "media/animcore/anim.h"
#include "media/sound/channels.h"
#include "media/sound/lib_sound.h"
#include "media/video/lib_video.h"
#include "media/sound/sound_state.h"
#include "media/sound/sound_stream.h"
#include "media/videocore/engine.h"
#include "platform/audio.h"
#include "platform/clipboard.h"
#include "platform/date.h"
#include "platform/dialogs.h"
#include "platform/imagecodec.h"
#include "platform/memory.h"
#include "platform/requesters.h"
#include "player/clargs.h"
#include "player/pluginmanager.h"
#include "player/plugins.h"
#include "player/event/event_buttons.h"
#include "player/event/event_pump.h"
#include "player/event/event_user.h"
#include "player/event/event_wait.h"
#include "player/event/lib_event.h"
#include "runtime/eventdispatch.h"
#include "player/playerrun.h"
#include "player/pluginmanager.h"
#include "player/plugins.h"
#include "player/system/system_dates.h"
#include "player/system/system_platform.h"
#include "runtime/vm/vm_api.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "text/text/lib_text.h"
#include "text/text/textoutput.h"
#include "graphics/vector_requests.h"
#include "graphics/vectorgraphics/lib_vectorgraphics.h"

namespace {

// The string requester's cancel is no error for the script: an empty text and 0.
uint32_t StringRequest(const char *title, const char *body, const char *defaultText, int32_t number,
                       int32_t maxLength, int32_t password, char *out, int32_t *confirmed) {
  uint32_t code = ShowStringRequester(title, body, defaultText, number, maxLength, password, out);
  *confirmed = code == 0;
  return code == ERR_USERABORT ? 0 : code;
}

// A picture on the clipboard comes as a qmClipboardPicture (clipboard.h); without an image
// coder its kind comes alone.
uint32_t ReadClipboardForScript(int32_t *kind, char **text, void **image) {
  *image = nullptr;
  if (uint32_t code = ReadClipboard(kind, text)) return code;
  if (*kind != CLIP_IMAGE || !GetClipboardImageCoder()) return 0;
  auto *picture = static_cast<qmClipboardPicture *>(MemAlloc(sizeof(qmClipboardPicture), 1));
  if (!picture) return ERR_MEM;
  if (uint32_t code = ReadClipboardImage(&picture->argb, &picture->width, &picture->height, &picture->hasAlpha)) {
    MemFree(picture);
    return code;
  }
  *image = picture;
  return 0;
}

void FreeClipboardPicture(void *image) {
  auto *picture = static_cast<qmClipboardPicture *>(image);
  if (!picture) return;
  MemFree(picture->argb);
  MemFree(picture);
}

// Clipboard pictures travel as PNG, made and read by the system's codec.
uint32_t EncodeClipboardPng(const uint32_t *argb, int32_t width, int32_t height, int32_t hasAlpha, std::string *png) {
  qmImageData data{};
  if (uint32_t code = EncodeImageData(nullptr, argb, width, height, width * 4, IMAGETYPE_PNG, hasAlpha, 100, 0, &data))
    return code;
  png->assign(reinterpret_cast<const char *>(data.bytes), size_t(data.length));
  FreeEncodedImage(&data);
  return 0;
}

uint32_t DecodeClipboardPicture(const uint8_t *data, size_t size, uint32_t **argb, int32_t *width, int32_t *height,
                                int32_t *hasAlpha) {
  return DecodeImageMemory(data, size, width, height, argb, hasAlpha, nullptr);
}

const qmClipboardImageCoder kClipboardCoder = {EncodeClipboardPng, DecodeClipboardPicture};

// A change the script made to the clipboard reaches the displays that watch it at once.
uint32_t TellClipboardChange(VmState *L, uint32_t code) {
  if (!code) TellClipboardWatchers(GetScene(L));
  return code;
}

uint32_t WriteClipboardTextAndTell(VmState *L, const char *text) {
  return TellClipboardChange(L, WriteClipboardText(text));
}

uint32_t ClearClipboardAndTell(VmState *L) { return TellClipboardChange(L, ClearPlatformClipboard()); }

uint32_t WriteBrushToClipboard(VmState *L, const qmObjectId *id) {
  qmBrush *brush = nullptr;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), id, &brush, 0)) return code;
  int32_t hasAlpha = 0;
  uint32_t *argb = BrushToArgb(brush, &hasAlpha);
  if (!argb) return ERR_MEM;
  uint32_t code = WriteClipboardImage(argb, brush->width, brush->height, hasAlpha);
  MemFree(argb);
  return TellClipboardChange(L, code);
}

// GetClipboard's picture becomes a brush of an automatic id.
uint32_t PushClipboardPictureAsBrush(VmState *L, void *image) {
  auto *picture = static_cast<qmClipboardPicture *>(image);
  qmObjectId id{0, 1};
  uint32_t code = NewBrushFromArgb(ObjectRegistryOf(L), &id, picture->argb, picture->width, picture->height,
                                   picture->hasAlpha, nullptr);
  FreeClipboardPicture(picture);
  if (code) return code;
  vm_pushlightuserdata(L, reinterpret_cast<void *>(id.handle));
  return 0;
}

qmDisplay *CurrentDisplayOf(VmState *L) {
  qmScene *scene = GetScene(L);
  return scene ? scene->current : nullptr;
}

void BeginDialog(VmState *L) {
  if (qmDisplay *d = CurrentDisplayOf(L)) d->requesterOpen = 1;
}

// Buttons and keys that went down before or during the dialog will not come up in the window.
void EndDialog(VmState *L) {
  qmDisplay *d = CurrentDisplayOf(L);
  if (!d) return;
  d->requesterOpen = 0;
  d->leftButton = d->rightButton = d->middleButton = 0;
  std::memset(d->keyStates, 0, sizeof d->keyStates);
}

int FindVectorEngine(qmVectorEngine *out) {
  const qmPluginSymbols *symbols = GetVectorEngine();
  if (!symbols) return 0;
  GetVectorEntries(symbols, out);
  return 1;
}

qmFont *CurrentTextFont(VmState *L) {
  const qmTextState *text = GetTextState(L);
  return text ? text->style.font : nullptr;
}
int32_t DefaultTextEncoding(VmState *L) {
  const qmTextState *text = GetTextState(L);
  return text ? text->encoding : 0;
}

void WireRequesters(qmSystemServices *sys) {
  SetDialogDesktop(&kDesktopDialogs);
  qmSystemRequesters &r = sys->requesters;
  r.message = ShowSystemRequester;
  r.file = ShowFileRequester;
  r.path = ShowPathRequester;
  r.text = StringRequest;
  r.list = ShowListRequester;
  r.color = ShowColorRequester;
  r.font = ShowFontRequester;
  r.begin = BeginDialog;
  r.end = EndDialog;
  qmSystemClipboard &c = sys->clipboard;
  c.read = ReadClipboardForScript;
  c.freeImage = FreeClipboardPicture;
  c.writeBrush = WriteBrushToClipboard;
  c.pushImageAsBrush = PushClipboardPictureAsBrush;
  SetClipboardImageCoder(&kClipboardCoder);
  c.peek = PeekClipboardKind;
  c.writeText = WriteClipboardTextAndTell;
  c.clear = ClearClipboardAndTell;
}

// What plug-ins reach of the run through the host table.
void FormatCurrentDateText(char *out, size_t size) {
  char date[kDateTextSize], time[kDateTextSize];
  GetDateTimeString(DATE_TEXT_NUMERIC, date, time);
  FormatLongDate(date, time, out, size);
}

uint32_t RegisterPluginUserEvent(VmState *L, const char *name) {
  return RegisterUserEvent(GetEventState(L), name, nullptr);
}

int DescribePluginSample(VmState *L, const qmObjectId *id, qmHostSampleLock *out) {
  auto *s = reinterpret_cast<qmSample *>(FindObject(L, QMTYPE_SAMPLE, id));
  if (!s || !s->data) return 0;
  const qmSampleData *d = s->data;
  const int32_t f = d->format;
  const uint32_t channels = f == SMPFMT_STEREO8U || f == SMPFMT_STEREO8 || f == SMPFMT_STEREO16 ? 2 : 1;
  const uint32_t bits = f == SMPFMT_MONO16 || f == SMPFMT_STEREO16 ? 16 : 8;
  // Bit 1: signed data (every code above the unsigned ones); bit 0: big-endian data.
  const uint32_t flags = (f > SMPFMT_STEREO8U ? 2u : 0u) | (d->flags & AUDIOFMT_BIGENDIAN ? 1u : 0u);
  *out = {d->data, d->frames * d->bytesPerFrame, d->frames, channels, bits, uint32_t(s->pitch), flags};
  return 1;
}

// The pump's calls into the run's mixer channels.
void DeliverRunAudioEvents(qmPlayerContext *ctx) { ServiceAudioEvents(&ctx->sound->channels); }
void UpdateRunAudioChannels(qmPlayerContext *ctx) { UpdateAudioChannels(&ctx->sound->channels); }

}  // namespace

uint32_t OpenScene(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (ctx->scene) return 0;
  if (uint32_t code = NewScene(ctx->objects, &ctx->scene)) return code;
  ctx->scene->context = ctx;
  ctx->freeScene = FreeScene;
  return 0;
}

void WirePlayerContext(VmState *L, qmPlayerRun *run) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx) return;
  WireDisplayServices(L);
  WireLibraryServices(L);
  ctx->serviceEvents = ServiceEvents;
  ctx->pumpEvents = PumpEvents;
  ctx->waitEvents = WaitEvents;
  ctx->deliverAudioEvents = DeliverRunAudioEvents;
  ctx->updateAudioChannels = UpdateRunAudioChannels;
  ctx->showErrorRequester = ShowErrorRequester;
  ctx->formatPlugins = GetFormatPlugins();
  const qmHostRun hostRun = {L, FormatCurrentDateText, RegisterPluginUserEvent, PostUserEvent, DescribePluginSample};
  BindHostRun(&hostRun);
  SetAudioSink(&kSystemAudioSink);  // the sound library opens it when a script first needs it
  if (qmSystemServices *sys = ctx->system) {
    // Waits pump events, so that a quit ends them.
    sys->timedWait = WaitEvents;
    WireRequesters(sys);
    qmClArgs *args = run->args;
    qmProgramInfo &info = sys->program;
    info.linked = static_cast<int32_t>(run->linked);
    info.applet = &args->isApplet;
    info.programPath = args->programPath;
    info.executablePath = args->executablePath;
    info.fileArgument = args->programPath;
    info.userArguments = args->userArgs;
    info.startedFromShell = static_cast<int32_t>(run->startedFromShell);
  }
}

void WireDisplayServices(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx) return;
  // The display library's window work, with the layer engine composing what lies on the
  // background; the layers and buttons a picture owns.
  static const qmDisplayOps ops = [] {
    qmDisplayOps o = kDisplayOps;
    o.redrawRect = LayersRedrawDisplayRect;
    o.coveredRect = LayersCoverDisplayRect;
    o.composePicture = LayersComposeDisplayPicture;
    return o;
  }();
  if (qmScene *scene = ctx->scene) {
    scene->displayOps = &ops;
    scene->layerHooks = &kLayerHooks;
    scene->buttonHooks = &kButtonHooks;
    scene->presentUpdate = PresentDisplayUpdate;  // other threads' window updates reach the windows
  }
  ctx->openFirstDisplay = OpenFirstDisplay;
  ctx->prepareDeclaredBGPic = PrepareDeclaredBGPic;
  ctx->setDisplayAttributes = SetDisplayAttributesCore;
  ctx->findLayerByName = LayersFindLayerByName;
  ctx->addImageLayer = LayersAddImageLayer;
  ctx->addTextLayer = LayersAddTextLayer;
  ctx->removeAllLayers = LayersRemoveAllLayers;
  ctx->removeLastLayer = LayersRemoveLastLayer;
  ctx->readLayerAttribute = LayersReadAttribute;
}

void WireLibraryServices(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx) return;
  ctx->textObjectPicture = TextObjectPicture;
  ctx->textObjectOffset = TextObjectOffset;
  ctx->textObjectLock = TextObjectLock;
  ctx->insertTextObjectLayer = TextInsertObjectLayer;
  ctx->tagConstant = TextTagConstant;
  ctx->readTextAttribute = TextReadAttribute;
  ctx->animFramePlanes = AnimFrameOutputPlanes;
  ctx->readSoundAttribute = SoundReadAttribute;
  // A video's sound plays on a mixer channel of the run's sound library, which also posts its
  // end event.
  if (qmSoundState *st = ctx->sound) {
    st->videoOps = {&st->channels, StartVideoChannel, SetVideoChannelVolume, StopVideoChannel, PostVideoEndEvent};
    ctx->videoAudio = &st->videoOps;
  }
  ctx->videosOfDisplay = VideosOfDisplay;
  ctx->readVideoAttribute = VideoReadAttribute;
  ctx->videoOnDisplay = IsVideoOnDisplay;
  ctx->videoAtPoint = IsVideoAtPoint;
  ctx->readDosAttribute = DosReadAttribute;
  ctx->readMemoryAttribute = MemblockReadAttribute;
  ctx->readEventAttribute = EventReadAttribute;
  ctx->findVectorEngine = FindVectorEngine;
  ctx->drawShapeAsPath = VectorDrawShapeAsPath;
  ctx->currentFont = CurrentTextFont;
  ctx->defaultEncoding = DefaultTextEncoding;
}

void UnwireLibraryServices(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx) return;
  ctx->textObjectPicture = nullptr;
  ctx->textObjectOffset = nullptr;
  ctx->textObjectLock = nullptr;
  ctx->insertTextObjectLayer = nullptr;
  ctx->tagConstant = nullptr;
  ctx->readTextAttribute = nullptr;
  ctx->animFramePlanes = nullptr;
  ctx->readSoundAttribute = nullptr;
  ctx->videoAudio = nullptr;
  ctx->videosOfDisplay = nullptr;
  ctx->readVideoAttribute = nullptr;
  ctx->videoOnDisplay = nullptr;
  ctx->videoAtPoint = nullptr;
  ctx->readDosAttribute = nullptr;
  ctx->readMemoryAttribute = nullptr;
  ctx->readEventAttribute = nullptr;
  ctx->findVectorEngine = nullptr;
  ctx->drawShapeAsPath = nullptr;
  ctx->currentFont = nullptr;
  ctx->defaultEncoding = nullptr;
}

void UnwirePlayerContext(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx) return;
  UnwireLibraryServices(L);
  // The layers and buttons of a picture stay answered: the pictures freed with their library
  // take theirs along.
  if (ctx->scene) ctx->scene->displayOps = nullptr;
  ctx->openFirstDisplay = nullptr;
  ctx->prepareDeclaredBGPic = nullptr;
  ctx->setDisplayAttributes = nullptr;
  ctx->serviceEvents = nullptr;
  ctx->pumpEvents = nullptr;
  ctx->waitEvents = nullptr;
  ctx->deliverAudioEvents = nullptr;
  ctx->updateAudioChannels = nullptr;
  SetAudioSink(nullptr);
  ctx->findLayerByName = nullptr;
  ctx->addTextLayer = nullptr;
  ctx->addImageLayer = nullptr;
  ctx->removeAllLayers = nullptr;
  ctx->removeLastLayer = nullptr;
  ctx->readLayerAttribute = nullptr;
  ctx->formatPlugins = nullptr;
  BindHostRun(nullptr);
  if (qmSystemServices *sys = ctx->system) SetDefaultSystemServices(sys);
  SetClipboardImageCoder(nullptr);
}
