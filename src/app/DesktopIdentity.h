#pragma once

// How the desktop tells the program's windows apart: the desktop entry they belong to
// (talven77-pc-player.desktop, which Wayland and X11 window lists match them by) and the
// program's icon on every window. The icon is the theme's one where the program is
// installed, else the same picture built into the program.
void InstallDesktopIdentity();
