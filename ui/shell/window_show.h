// Showing a new top-level page with one paint and one picture on the screen.
#pragma once

class QWidget;

// Shows a new top-level window. Where the platform paints a window as it
// shows it (the framebuffer and VNC screens do), Qt would paint it a second
// time for the updates it posts while showing, and the platform's queued
// repeat of that first exposure would send the same picture to the screen
// again; both are dropped, as the window was painted whole and is on the
// screen already. Elsewhere the window is shown as usual.
void show_painted_once(QWidget* window);
