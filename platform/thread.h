// Threads with a start handshake, a quit request and a join that the body waits for.
//
// A body: set up, then ThreadSignalStarted (or ThreadExit with a non-zero code on failure and
// return); loop until ThreadQuitRequested; ThreadWaitJoin; ThreadExit(0); return.
// The owner: ThreadRequestQuit, wake the body if it waits on a signal, ThreadJoin.
#pragma once
#include <pthread.h>
#include <atomic>
#include <cstdint>

// The body's only argument is the thread record (see GetThreadRecord).
using qmThreadEntry = void *(*)(void *record);

struct qmThread {
  pthread_t thread;
  pthread_cond_t cond;
  pthread_mutex_t mutex;  // recursive; guards started and the exit code during the handshake
  void *userData;
  int32_t exitCode;  // non-zero: the thread failed
  uint32_t started;
  std::atomic<uint32_t> quit;     // written by the owner, polled by the body
  std::atomic<uint32_t> mayExit;  // written by the joiner, polled by the body
};

// Starts entry(record) and waits until the body signals that it started. nullptr when the
// thread cannot be created or the body reported a failure (nothing of it remains then).
// A non-zero priority asks for round-robin real-time scheduling; where the system refuses that
// (no privilege, priority out of range), the thread runs with normal scheduling instead.
// Name, context and stack size are accepted for the callers' sake and not used here.
qmThread *ThreadStart(const char *name, qmThreadEntry entry, void *userData, uint32_t context,
                      uint32_t stackSize, int32_t priority);
qmThread *GetThreadRecord(void *entryArgument);
void *GetThreadUserData(qmThread *thread);
void ThreadSignalStarted(qmThread *thread);
// The body's last call; a non-zero code also ends the creator's wait in ThreadStart.
void ThreadExit(qmThread *thread, int32_t code);
void ThreadRequestQuit(qmThread *thread);
uint32_t ThreadQuitRequested(qmThread *thread);
// Polls every millisecond until the joiner has taken the record.
void ThreadWaitJoin(qmThread *thread);
// Lets the body exit, joins it and frees the record.
void ThreadJoin(qmThread *thread);
