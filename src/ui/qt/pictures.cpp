#include "ui/qt/pictures.h"

#include "text/pictures.h"

#include <QFont>
#include <QPainter>

namespace tarvix::ui {

QPixmap renderPicture(int pictureId) {
  if (pictureId == text::kLogoPicture) {
    QPixmap logo(96, 40);
    logo.fill(Qt::transparent);
    QPainter p(&logo);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x1f, 0x4e, 0x8c));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(logo.rect().adjusted(1, 1, -1, -1), 6, 6);
    QFont font("Arial Black", 14);
    font.setWeight(QFont::Black);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(logo.rect(), Qt::AlignCenter, "Tarvix");
    return logo;
  }

  QPixmap picture(text::kPictureWidth, text::kPictureHeight);
  picture.fill(Qt::white);
  const auto look = text::pictureLook(pictureId);
  if (!look || look->caption.empty()) return picture;
  QPainter p(&picture);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setPen(QColor::fromRgb(static_cast<QRgb>(look->rgb)));
  p.drawRect(picture.rect().adjusted(0, 0, -1, -1));
  QFont font("Arial Black", 10);
  font.setWeight(QFont::Black);
  font.setStyleHint(QFont::SansSerif);
  p.setFont(font);
  p.drawText(picture.rect(), Qt::AlignCenter,
             QString::fromUtf8(look->caption.data(), static_cast<qsizetype>(look->caption.size())));
  return picture;
}

} // namespace tarvix::ui
