#pragma once

namespace sendova {

// Whether a window can be shown at all: an X11 or Wayland display to connect
// to, or a Qt platform chosen that needs none (offscreen, VNC). Without one,
// creating the application object would abort the program with a core dump.
bool hasGraphicalSession();

// What a windowed program says, after its name, when there is none.
inline constexpr char noGraphicalSessionText[] =
    "no graphical session; to upload from a terminal use 'sendova upload FILE'";

} // namespace sendova
