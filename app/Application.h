#pragma once

// Settings that must be in place before the QApplication exists: Qt's X11 platform
// plugin (the OpenGL context is a GLX one, so a Wayland desktop is reached through
// XWayland), and a default surface format with 24 depth and 8 stencil bits, which
// gives native widget windows a visual that a GLX context of that format can use.
void PrepareApplication();

// Whether the X display answers. When it does not, prints the one line that says so
// and returns false: the program then ends with status 1.
bool CheckDisplay();
