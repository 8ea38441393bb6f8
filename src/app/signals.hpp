#pragma once
// Interruption: a render stopped by a signal leaves nothing behind.

namespace neonvale {

// Installs handlers for SIGHUP, SIGINT, SIGQUIT and SIGTERM that remove the
// temporary file of a save in progress and then end the process by the same
// signal with its default action, so the parent sees the signal (a shell
// reports 128 + n) and no partial picture is left. A signal that was ignored
// when the program started (nohup, a background job) stays ignored.
//
// SIGXFSZ is ignored: a write past the file-size limit then fails like a
// full disk and is reported as an ordinary error, instead of killing the
// process with the temporary file still in place.
void install_signal_handlers();

}  // namespace neonvale
