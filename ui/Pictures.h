#pragma once
// The wizard's pictures, drawn with GDI at start-up at the sizes the layouts
// give; nothing is read from picture files.

#include <windows.h>

#include <commctrl.h>

// Where a picture list keeps a button's states.
enum : int { PictureNormal = 0, PictureFocused = 1, PicturePushed = 2, PictureInactive = 3 };

// Four button pictures (normal, hover/focus, pushed, inactive) of Width x
// Height with Caption drawn on them; no caption gives plain pictures. Their
// rounded corners are transparent, filled with the button's colour.
HIMAGELIST ButtonPictures(int Width, int Height, const char* Caption);

// Four square pictures with a symbol: '+' add, '-' remove, 'x' clear, '?' help.
HIMAGELIST SymbolPictures(int Size, char Symbol);

// The banner over the wizard, 574 x 57.
HBITMAP HeaderPicture();
// The splash window's picture, 351 x 163.
HBITMAP SplashPicture();
// The about box's banner, 357 x 60.
HBITMAP AboutPicture();

// Draws Bitmap stretched over Rect.
void DrawPicture(HDC Dc, HBITMAP Bitmap, const RECT& Rect);
