#pragma once
// Interruption: a render stopped by a signal leaves nothing behind.

namespace neonvale {

// Installs handlers for SIGHUP, SIGINT, SIGQUIT and SIGTERM that remove the
// temporary file of a save in progress, end an open progress line, and then
// end the process by the same signal with its default action, so the parent
// sees the signal (a shell reports 128 + n) and no partial picture is left. A
// signal that was ignored when the program started (nohup, a background job)
// stays ignored.
//
// SIGXFSZ is ignored: a write past the file-size limit then fails like a
// full disk and is reported as an ordinary error, instead of killing the
// process with the temporary file still in place. SIGPIPE likewise: a named
// pipe whose reader went away fails the save with a message, not silently.
//
// The handlers run on the thread that runs the program: the program's other
// threads take no signals (core/parallel.hpp, start_helper_thread).
void install_signal_handlers();

// Tells the handlers whether a progress line is open on standard error (so an
// interrupt ends it, and the shell's prompt starts on a line of its own).
// Returns whether one was open before.
bool set_progress_line_open(bool open);

}  // namespace neonvale
