// The graphics pages' picture logic: the device line data of a picture line
// and the two conversions to black and white, on QImage alone (no driver,
// no widgets), plus the open-picture dialog both graphics pages share.
//
//   QImage mono = Monochrome1(picture, [&](int pos, int max) { Show(pos, max); });
//   std::string bytes = LineData(mono, 0);      // 40 bytes, one per 8 dots
#pragma once

#include <QImage>
#include <QString>
#include <functional>
#include <string>

#include "protocol/graphics.h"

class QWidget;

namespace varn::testapp {

// A device graphics line: 320 dots in 40 bytes.
using protocol::kLineBytes;
using protocol::kLineDots;

// The 40 bytes of picture line `y`: dot x = 8i + j is bit j of byte i (the
// leftmost dot is the least significant bit), set when the dot lies within
// the picture and its colour is exactly black. Dots beyond 320 are not sent.
std::string LineData(const QImage& picture, int y);

// Told how far a conversion is (position of maximum), for a progress bar.
using Progress = std::function<void(int position, int maximum)>;

// Threshold conversion: a dot's brightness is 3 r² (red only); dots darker
// than the mean brightness become black, the others white; then 1 bit per
// dot. Progress per column, against the picture's height as maximum.
QImage Monochrome1(const QImage& picture, const Progress& progress = {});

// Neighbourhood conversion on the left min(width, 320) columns: a dot
// inside becomes black when 8 times its value (r + g + b) is less than the
// sum of its eight neighbours' values, the last column and row become white,
// column 0 and row 0 stay; every decision is taken on the unchanged picture.
// Then 1 bit per dot. Progress through both passes against 2 × the width.
QImage Monochrome2(const QImage& picture, const Progress& progress = {});

// The open-picture dialog ("Bitmaps (*.bmp)", the file must exist, starting
// in the program's folder): the chosen path, or "" when cancelled. Tests
// set `PictureChooser` to answer instead of the dialog.
QString ChoosePicture(QWidget* parent);
extern std::function<QString(QWidget* parent)> PictureChooser;

}  // namespace varn::testapp
