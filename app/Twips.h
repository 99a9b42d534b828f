#pragma once

class QWidget;

// Twips (1440 to the inch), the unit the window layouts are given in, to
// pixels at the logical resolution of the widget's screen (the primary screen
// before it is shown; 96 dots per inch without any screen).
int TwipsToPixelsX(const QWidget* widget, int twips);
int TwipsToPixelsY(const QWidget* widget, int twips);
