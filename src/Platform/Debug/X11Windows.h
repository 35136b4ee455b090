#pragma once

// Top-level windows of another process on the X display: found by their
// _NET_WM_PID, captured from their client area, brought to the front.
// Without a display there are no windows and every capture fails.

#include <QImage>

#include <cstdint>

using TWindowHandle = uint32_t;

// The first visible top-level window of the process, 0 when none.
TWindowHandle FindProcessTopWindow(uint32_t processId);
// The window's client area; false (and a null image) when it cannot be had.
bool GrabWindowClientArea(TWindowHandle window, QImage& image);
// Raises the window and asks the window manager to activate it.
void BringWindowToFront(TWindowHandle window);
// True when a display can be opened.
bool HasWindowSystem();
