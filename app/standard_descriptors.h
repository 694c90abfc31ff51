#ifndef PORTWICK_APP_STANDARD_DESCRIPTORS_H_
#define PORTWICK_APP_STANDARD_DESCRIPTORS_H_

namespace portwick {

// Makes sure descriptors 0, 1 and 2 are open, opening /dev/null on each one
// that is closed. A program started with one of them closed would otherwise
// hand that number to its next file or socket, and whatever it writes to
// standard output or error (the traffic shown in console mode) would go into
// that file or another client's connection. Implemented per platform
// (app/posix/standard_descriptors.cc).
//
// Call at the very start of main, before anything opens a descriptor and
// before any other thread exists. Returns false when a closed one could not
// be opened (the caller should then end at once).
//
// On Windows (app/windows/) nothing needs reopening; it puts the standard
// streams in binary mode and the console's output in UTF-8 instead.
bool EnsureStandardDescriptors();

}  // namespace portwick

#endif  // PORTWICK_APP_STANDARD_DESCRIPTORS_H_
