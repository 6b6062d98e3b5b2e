// The window message loop and the yield to it.
#pragma once

#include <windows.h>

namespace forms {

// Handles the window messages that are waiting, then returns. The queue is
// looked at no more often than every 10 ms. A quit request found there ends
// the message loop when it next runs.
void DoEvents();

// Runs the program's message loop until no window of the program is left,
// then gives the exit code of a program that ended without installing.
int RunMessageLoop();

// The program's windows tell the loop when one is loaded and when it goes:
// the loop runs while one is left, and the last to go wakes it.
void WindowLoaded() noexcept;
void WindowUnloaded() noexcept;
int LoadedWindowCount() noexcept;

// Hands one message to its window, with the keyboard navigation of a dialog
// (Tab, Enter, Esc) for the program's windows.
void DispatchProgramMessage(MSG& message);

}  // namespace forms
