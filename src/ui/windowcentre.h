// Placing the program's fixed-size dialogs.
#pragma once

class QWidget;

// Moves window so that it stands in the middle of its screen's available
// area (the owner's screen when it has one).
void centreOnScreen(QWidget *window);
