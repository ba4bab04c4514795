// Texts fitted to the width they are shown in, without breaking a word.
#pragma once

#include <QString>

class QFontMetrics;

// line as it fits in width pixels: a line too long is shortened in the middle
// with "…", keeping what follows its last "/" (a file name) whole whenever
// that fits on its own. A line that fits comes back unchanged.
QString fittedLine(const QString &line, const QFontMetrics &metrics, int width);

// Each line of text fitted to width; the lines that had to be shortened, in
// their whole length and joined by line breaks, go to shortened.
QString fittedText(const QString &text, const QFontMetrics &metrics, int width,
                   QString *shortened = nullptr);
