#pragma once
// Interruption: a render stopped by a signal leaves nothing behind.
#include <filesystem>
#include <string>

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

// Scratch files have their disk blocks reserved when they are made, but a
// file system that cannot reserve them can still run out of space while the
// render writes, and a failing device cannot give pages back: the page then
// faults with SIGBUS. Once this is called, such a fault ends the program as
// an ordinary error does: the save's temporary removed, the progress line
// ended, "E: Cannot write scratch file in FOLDER: the disk is full or
// failing" on standard output and exit status 1. Other faults keep their
// default action.
void report_scratch_faults(const std::filesystem::path& folder);

// The progress line, shared by the progress display and the handlers: an
// interrupt ends an open line with a newline, so the shell's prompt starts on
// a line of its own, and nothing is drawn on it after that newline.
//
// Opens the line on the descriptor `fd` (standard error in the program).
void open_progress_line(int fd);
// Closes the line without writing; true when it was open, and the caller may
// then write its last words on it.
bool close_progress_line();
// Writes `text` on the line while it is open; nothing once it was closed or
// ended. An interrupt that ends the line meanwhile waits for this write to
// finish before it writes its newline.
void draw_progress_line(const std::string& text);
// What an interrupt does to the line: ends it with a newline once, after any
// draw under way. Async-signal-safe.
void end_progress_line() noexcept;

}  // namespace neonvale
