// The program's own pictures, drawn by code so nothing has to be shipped: the splash picture, the
// product picture of the About box and the window icon.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace app {

// The built-in splash picture (used when skin/videocover.jpg is not beside the program).
QPixmap SplashPicture();
// The product emblem, a square of `size` pixels: a film frame with a play mark.
QPixmap ProductPicture(int size);
QIcon ProgramIcon();

}  // namespace app
