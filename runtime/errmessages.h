// Error codes to words: the code-to-message map and the message table (both generated from
// errcodes.def and messages.def), the catalog that may replace a text, the user errors from
// 1509 on, and the error argument that completes a message.
#pragma once
#include <cstddef>
#include <cstdint>

struct qmCatalog;
struct VmErrorState;

inline constexpr size_t kErrorArgumentSize = 1024;
inline constexpr size_t kErrorMessageSize = 2048;

enum : int32_t {
  MSG_UNKNOWN_ERROR = 91,
  MSG_CURRENT_LINE = 92,
  MSG_DONE = 95,
  MSG_FAILED = 108,
  MSG_FILE = 194,
  MSG_SKIPPED = 195,
  MSG_IN_FUNCTION = 280,
};

// The error state that the argument setters and the formatter use: the VM's (bound at runtime
// start-up), or a state of the runtime's own before that.
void BindErrorState(VmErrorState *state);
VmErrorState *GetErrorState();
// Sets the defaults: no last error, line -1, no function name ("----"), source "?", exit on
// error, no callback, no handler.
void ResetErrorState(VmErrorState *state);

// The message index of a player code (1000..1508): -1 when the message is the error argument,
// -2 for a code that is not used.
int32_t GetErrorMessageIndex(uint32_t code);
// The built-in English text of a message index, or nullptr when the table has none.
const char *GetBuiltinErrorText(int32_t index);

// The catalog whose strings replace the built-in texts; nullptr for none.
void SetMessageCatalog(const qmCatalog *catalog);
// The catalog's string of the index, else the built-in text, else "Unknown error code!".
const char *GetErrorText(int32_t index);

// Copies the text (cut to 1023 bytes) into the error argument; returns the argument buffer.
char *SetErrorArgument(const char *text);
void SetErrorNumber(uint32_t n);

// A run's user errors live in its record (the player context), bound while the run is played;
// with none bound, the calls below use a list of the module's own.
struct qmUserErrors;
qmUserErrors *NewUserErrors();
void DeleteUserErrors(qmUserErrors *list);
void BindUserErrors(qmUserErrors *list);

// 1509 plus the number of user errors before it, or ERR_MEM.
uint32_t AddUserError(const char *text);
void FreeUserErrors();

// Fills a message format by hand, never through printf: the first "%s" (when the format has
// one) becomes text, otherwise the first "%d" or "%ld" becomes number; "%%" becomes "%", and
// everything else, other "%" sequences included, is copied as it is. out is always
// terminated; returns out.
char *FormatMessageText(const char *format, const char *text, uint32_t number, char *out, size_t size);
// The message of a code with the error argument substituted (see FormatMessageText). File
// names in the argument are cut to what a user should see: a ":::chunk" name to its display
// name, and for the loaders' messages any path to its file part.
char *FormatErrorMessage(uint32_t code, char *out, size_t size);
