// The progress dialog of the client setup (Qt): banner, status text, detail
// text, progress bar and a Close button shown at the end.
#pragma once
#include "setup_sequence.h"

namespace zelsetup {

// A display to show a window on.
bool DisplayAvailable();

// Runs the sequence with the dialog: the window's event loop on this
// thread, the sequence on a thread of its own. False when the dialog cannot
// be shown (the caller then runs without it).
bool RunWithDialog(const SetupOptions& options, int argc, char** argv, int* exitCode);

// Silent, with a display: no dialog, the texts on standard output, but the
// message boxes shown as windows.
int RunSilentWithDisplay(const SetupOptions& options, int argc, char** argv);

}  // namespace zelsetup
