#pragma once
// The maker's logo (PNG 137) painted into a frame control of a window.
#include <windows.h>

namespace nerova::widgets {

// Loads the logo afresh, paints it with high-quality smoothing into the
// frame's client rectangle by the fit rule, on a paint context of the frame
// itself and without clearing (the frame's own background shows beside it),
// and lets it go. Nothing is drawn when the fit rule yields nothing. Meant
// for the owner window's WM_PAINT, after the owner has painted.
void DrawLogo(HWND frame);

}  // namespace nerova::widgets
