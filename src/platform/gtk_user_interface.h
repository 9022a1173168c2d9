#ifndef TABSYNC_PLATFORM_GTK_USER_INTERFACE_H_
#define TABSYNC_PLATFORM_GTK_USER_INTERFACE_H_

#include <memory>

#include "platform/progress_display.h"
#include "platform/user_interface.h"

namespace tabsync::platform {

// The user interface on a display, drawn with GTK 3.
//
// Returns nullptr when there is no display to draw on: neither DISPLAY nor
// WAYLAND_DISPLAY is set to a non-empty value, or GTK cannot open the display.
// The caller then falls back to NewConsoleUserInterface().
//
// Initialises GTK on the first successful call, leaving the process locale
// alone. Every call of the returned object and of its log windows must come
// from the thread that made it.
//
// Message boxes are modal dialogs without a parent, centred on the screen;
// closing a Yes/No box without answering answers kNo. A log window is a
// top-level window with one read-only fixed-pitch text box; the operator
// closing it hides it (or, when the window system destroys it, the window is
// gone); either way Visible() turns false and the object stays safe to use and
// to destroy. Destroying the object destroys the window.
std::unique_ptr<UserInterface> NewGtkUserInterface();

// A small window with a progress bar, for a run on a display: it appears
// only once the run has lasted about a second, shows the database (3/6) and,
// during a long merge, the table and records done, and goes at Finish. It
// asks nothing. Call only after NewGtkUserInterface() gave an interface.
std::unique_ptr<ProgressDisplay> NewGtkProgressWindow();

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_GTK_USER_INTERFACE_H_
