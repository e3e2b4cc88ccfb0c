// The player's options: the table of keywords shared by the command line and the .ini file,
// the parser of the joined argument line, and ApplyOptions, which turns the option values
// into the command-line record and the display settings.
#pragma once
#include <cstddef>
#include <cstdint>

struct qmClArgs;
struct qmPlayerApplet;

// Value slots; PRIVATE1 and PRIVATE2 share the slots of the two exports.
enum qmOptionSlot : int32_t {
  OPT_PROGRAM = 0,
  OPT_WINDOW = 1, OPT_BORDERLESS, OPT_SIZEABLE, OPT_FIXED, OPT_NOHIDE,
  OPT_FULLSCREEN, OPT_FAKEFULLSCREEN, OPT_OWNSCREEN, OPT_SCRWIDTH, OPT_SCRHEIGHT, OPT_DEPTH,
  OPT_HIDEPOINTER, OPT_NOMODESWITCH,
  OPT_BACKFILL, OPT_STARTCOLOR, OPT_ENDCOLOR, OPT_BRUSHFILE, OPT_BRUSH, OPT_SCALEPICTURE,
  OPT_PICXPOS, OPT_PICYPOS, OPT_PICTRANS, OPT_HIDETITLEBAR,
  OPT_COMPILE, OPT_EXETYPE, OPT_COMPRESS, OPT_OVERWRITE, OPT_LOCKSETTINGS, OPT_LINKFILES, OPT_LINKFONTS,
  OPT_ICON16, OPT_ICON24, OPT_ICON32, OPT_ICON48, OPT_ICON128, OPT_ICON256, OPT_ICON512,
  OPT_AUTOSCALE, OPT_LAYERSCALE, OPT_SCALEWIDTH, OPT_SCALEHEIGHT, OPT_SMOOTHSCALE, OPT_KEEPPROPORTIONS,
  OPT_FITSCALE,
  OPT_EXPORTCOMMANDS, OPT_EXPORTCONSTANTS, OPT_EXPORTPLUGINS,
  OPT_QUIET, OPT_NOSOUND, OPT_SKIPPLUGINS, OPT_USEQUARTZ, OPT_DEBUGDEVICE,
  OPT_PRIVATE3, OPT_SCRIPTALIAS,
  OPT_SLOTCOUNT
};

struct qmOption {
  const char *keyword;   // a null keyword ends the table
  int32_t slot;
  int32_t takesValue;
  int32_t heading;       // message number of a section heading, 0 none, -1 hidden
  const char *help;
  const char *placeholder;
  const char *allowed;
};

extern const qmOption kOptionTable[];

// Option values: a switch holds 0 or 1; an option with a value holds its text, which lives in
// the argument line or the .ini buffer until ApplyOptions has run.
struct qmOptionValues {
  uintptr_t slot[OPT_SLOTCOUNT];
  const char *Text(int32_t s) const { return reinterpret_cast<const char *>(slot[s]); }
};

// The table row of a keyword, without regard to case; nullptr when none.
const qmOption *FindOption(const char *keyword, size_t length);

inline constexpr size_t kArgumentLineSize = 4096;

// Joins argv[1..] into line (kArgumentLineSize bytes): options as they are, other words in
// double quotes, single blanks between. 0, or ERR_ARGS when the line would not fit.
uint32_t JoinArguments(int argc, char **argv, char *line);
// Parses the line in place (values are cut out of it); 0 or ERR_ARGS or ERR_MEM.
uint32_t ParseArgumentLine(char *line, qmOptionValues *values, qmClArgs *args);

// The run-wide settings that ApplyOptions keeps beside the two records.
struct qmRunOptions {
  char *exportCommands;   // MemAlloc'ed file names, null when not given
  char *exportConstants;
  char *exportPlugins;
  char *skipList;         // strings one after the other, ended by an empty string
  uint32_t consoleReports;  // DEBUGDEVICE: the final report goes to the console
  char *icons[7];
};
void FreeRunOptions(qmRunOptions *run);

// 0 or an error code. With COMPILE the LINKFILES and LINKFONTS databases are read into the
// applet's linked-file list; the refusal to compile comes once the program is loaded.
uint32_t ApplyOptions(qmClArgs *args, const qmOptionValues *values, qmPlayerApplet *applet, qmRunOptions *run);
