// The main window's placement: restored from and written to the settings file.
#pragma once

class QWidget;

// Reads "Top", "Left", "Width" and "Height" of section "Tenvo" through
// gIniCtrl and places window there: those four numbers are the outer
// rectangle (frame included) in screen pixels. A value that is missing, empty
// or not a number counts as missing. When the size is missing or not above 0
// (a first start) the window keeps its own (design) size and is centred on
// the primary screen; a missing position also centres it. A rectangle that
// lies entirely off every screen is moved, centred, onto the primary screen;
// one that lies partly off is moved (its size kept, unless larger than the
// screen) wholly onto the screen that holds most of it.
// Does nothing without gIniCtrl.
void loadWindowPosition(QWidget *window);

// Writes the window's outer rectangle as it reports it at this moment
// (whatever its state) to "Top", "Left", "Width" and "Height" of section
// "Tenvo" through gIniCtrl, in that order. Does nothing without gIniCtrl.
void saveWindowPosition(QWidget *window);
