// Draws the station's pictures: the 120 x 20 status pictures (a coloured word or phrase on white,
// one set per language) and the logo.
#pragma once

#include <QPixmap>

namespace tarvix::ui {

QPixmap renderPicture(int pictureId);

} // namespace tarvix::ui
