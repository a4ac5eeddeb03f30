#pragma once
// Dialog templates are laid out for the fonts of a Windows desktop; where the
// dialog font runs wider (Wine's Tahoma, large-font settings), a short label
// wraps and loses its second line. This widens such labels to one line.
#include <windows.h>

namespace nerova::settings::win {

// Every plain text label of `dialog` (static, left, centred or right text,
// no border) whose current text does not fit its width on one line grows by
// the shortfall: a right-aligned label to the left, so it still ends where
// its field begins; a left-aligned one to the left as well, keeping its
// right neighbour clear; a centred one on both sides. Never past the
// dialog's left edge.
void FitLabelsToText(HWND dialog);

}  // namespace nerova::settings::win
