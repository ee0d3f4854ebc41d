// The launcher's words to the display for a photo frame: the viewer's
// window made to fill the screen, the pointer hidden over it, and the
// screen turned off and on.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

// The viewer's window: its class "vorlix" and, where it says one, its
// process; 0 while it has none.
Window FindViewerWindow(Display *display, pid_t viewer);

// Has the window fill the screen: asked of the window manager in EWMH's
// way (_NET_WM_STATE_FULLSCREEN) where one runs, else sized to the screen
// itself; the pointer hidden over it.
void FillTheScreen(Display *display, Window window);

// Turns the screen off or on: DPMS on X, else a Wayland compositor's output
// power (wlopm) where there is one; false where neither works.
bool TurnTheScreen(Display *display, bool on);

// A black window over the whole screen, for a screen that can't be turned
// off; 0 to take it away again.
Window CoverTheScreen(Display *display, Window cover);

// Whether the X server is XWayland, under a Wayland compositor.
bool UnderWayland();

// Under a Wayland compositor, the black screen is the viewer's window
// hidden (unmapped): cage, for one, shows nothing behind it, and shows no
// window that comes after the viewer was stopped (no cover). Hides it and
// gives the compositor time to show the screen without it; or shows it
// again.
void HideTheViewer(Display *display, Window viewer, bool hide);
