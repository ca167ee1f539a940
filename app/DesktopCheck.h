#pragma once

// False when the Qt platform that would be picked draws on a desktop (X11 or Wayland, the
// default) and the environment names none. A platform without a desktop (offscreen, vnc, ...)
// chosen with QT_QPA_PLATFORM always passes.
bool HasDesktop();

// A Wayland session without XWayland (WAYLAND_DISPLAY alone) gets the wayland platform: Qt's
// default, xcb, would find no X server there. A platform the user chose is kept.
void PickPlatform();
