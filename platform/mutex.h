// Recursive mutexes: every mutex of the player is of this kind, so a thread may lock a mutex
// that it already holds.
#pragma once
#include <pthread.h>
#include <cstdint>

struct qmMutex {
  pthread_mutex_t mutex;
};

// A new mutex, or nullptr when out of memory.
qmMutex *MutexCreate();
void MutexLock(qmMutex *m);
void MutexUnlock(qmMutex *m);
// 1 when the lock was taken, 0 when another thread holds it (the audio thread never blocks).
int MutexTryLock(qmMutex *m);
void MutexFree(qmMutex *m);

// Makes a recursive mutex in place (records that embed one, such as the thread record).
int InitRecursiveMutex(pthread_mutex_t *mutex);
