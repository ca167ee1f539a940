#pragma once

// False when the Qt platform that would be picked draws on a desktop (X11 or Wayland, the
// default) and the environment names none. A platform without a desktop (offscreen, vnc, ...)
// chosen with QT_QPA_PLATFORM always passes.
bool HasDesktop();
