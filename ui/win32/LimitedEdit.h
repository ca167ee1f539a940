#pragma once

#include <windows.h>

// Gives an edit box a typing limit in wire bytes (0: none), as Form1View asks. Typing and
// pasting are held to it; text the program sets is never cut. EM_LIMITTEXT would count UTF-16
// units instead of the bytes a panel receives.
void SetTypingLimit(HWND edit, int limit);
