#ifndef PORTWICK_ENGINE_WAIT_WORD_H_
#define PORTWICK_ENGINE_WAIT_WORD_H_

#include <atomic>
#include <chrono>

// A word a thread sleeps on in the kernel until another thread changes it
// and wakes it: handing work over costs one wake-up call and no lock.
// Implemented per platform (engine/linux/wait_word.cc: a private futex).
// Any thread; the word must outlive every call on it.
namespace portwick::wait_word {

// Sleeps while `*word` holds `expected`, at most `timeout` (a negative one:
// without end). May return early (a signal, a spurious wake-up); callers
// look at the word again.
void Wait(std::atomic<int>* word, int expected, std::chrono::nanoseconds timeout);

// Wakes one thread sleeping on `word`; a wake-up that comes when nobody
// sleeps reaches nobody.
void WakeOne(std::atomic<int>* word);

}  // namespace portwick::wait_word

#endif  // PORTWICK_ENGINE_WAIT_WORD_H_
