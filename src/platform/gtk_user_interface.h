#ifndef TABSYNC_PLATFORM_GTK_USER_INTERFACE_H_
#define TABSYNC_PLATFORM_GTK_USER_INTERFACE_H_

#include <memory>

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

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_GTK_USER_INTERFACE_H_
