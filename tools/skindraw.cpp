// Draws the default handset skin: the phone body with its screen hole and
// keys (picture 0), the same with every key pressed (picture 1), and the
// skin settings file that places the screen and the keys.
//
//   QT_QPA_PLATFORM=offscreen build/bin/qor_skindraw dist/skins/default
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>
#include <cstdio>
#include <vector>

namespace {

constexpr int kWidth = 260, kHeight = 620;
constexpr QRect kScreen(50, 104, 160, 240);

struct Key {
  const char* name;   // the skin's button name
  QRect rect;
  const char* label;  // main label
  const char* sub;    // letters under the digit, or null
  QColor tint;        // accent of call keys; invalid for plain keys
  bool round;
};

std::vector<Key> Keys() {
  std::vector<Key> keys;
  const char* labels[12] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "*", "0", "#"};
  const char* subs[12] = {".,!", "abc", "def", "ghi", "jkl", "mno", "pqrs", "tuv", "wxyz",
                          nullptr, "+", nullptr};
  const char* names[12] = {"Pad 1", "Pad 2", "Pad 3", "Pad 4", "Pad 5", "Pad 6",
                           "Pad 7", "Pad 8", "Pad 9", "Pad *", "Pad 0", "Pad #"};
  for (int i = 0; i < 12; ++i) {
    int col = i % 3, row = i / 3;
    keys.push_back({names[i], QRect(34 + col * 66, 460 + row * 32, 60, 27), labels[i], subs[i],
                    QColor(), false});
  }
  keys.push_back({"Soft 1", QRect(26, 362, 58, 22), "", nullptr, QColor(), false});
  keys.push_back({"Soft 2", QRect(176, 362, 58, 22), "", nullptr, QColor(), false});
  keys.push_back({"send", QRect(26, 396, 54, 26), "", nullptr, QColor(60, 170, 80), false});
  keys.push_back({"end", QRect(180, 396, 54, 26), "", nullptr, QColor(200, 60, 55), false});
  keys.push_back({"Spare 6", QRect(36, 430, 40, 22), "C", nullptr, QColor(), false});
  keys.push_back({"Spare 7", QRect(184, 430, 40, 22), "", nullptr, QColor(), false});
  // The navigation cluster: four arrows around a select key.
  keys.push_back({"Spare 1", QRect(112, 362, 36, 22), "", nullptr, QColor(), false});
  keys.push_back({"Spare 2", QRect(112, 428, 36, 22), "", nullptr, QColor(), false});
  keys.push_back({"Spare 3", QRect(90, 384, 22, 44), "", nullptr, QColor(), false});
  keys.push_back({"Spare 4", QRect(148, 384, 22, 44), "", nullptr, QColor(), false});
  keys.push_back({"Spare 5", QRect(116, 390, 28, 32), "", nullptr, QColor(), true});
  return keys;
}

void DrawBody(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(0, 0, kWidth, kHeight, QColor(236, 236, 232));
  // Shadow, then the silver shell with a darker face plate.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 40));
  p.drawRoundedRect(QRectF(14, 14, kWidth - 22, kHeight - 22), 46, 46);
  QLinearGradient shell(0, 0, kWidth, 0);
  shell.setColorAt(0, QColor(120, 126, 134));
  shell.setColorAt(0.5, QColor(198, 203, 210));
  shell.setColorAt(1, QColor(110, 116, 124));
  p.setBrush(shell);
  p.setPen(QPen(QColor(70, 74, 80), 2));
  p.drawRoundedRect(QRectF(8, 8, kWidth - 22, kHeight - 22), 44, 44);
  QLinearGradient face(0, 30, 0, kHeight);
  face.setColorAt(0, QColor(58, 62, 70));
  face.setColorAt(1, QColor(34, 36, 42));
  p.setBrush(face);
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(20, 24, kWidth - 46, kHeight - 52), 34, 34);
  // Earpiece and maker's name.
  p.setBrush(QColor(20, 20, 24));
  p.drawRoundedRect(QRectF(104, 40, 44, 7), 3, 3);
  p.setPen(QColor(200, 204, 212));
  QFont brand("DejaVu Sans", 11, QFont::Bold);
  brand.setLetterSpacing(QFont::AbsoluteSpacing, 3);
  p.setFont(brand);
  p.drawText(QRect(0, 60, kWidth - 8, 24), Qt::AlignCenter, "QOR");
  // The screen bezel; the screen itself is drawn by the emulator.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(16, 16, 18));
  p.drawRoundedRect(QRectF(kScreen.adjusted(-9, -9, 10, 10)), 8, 8);
  p.fillRect(kScreen.adjusted(0, 0, 1, 1), Qt::white);
  // The ring around the navigation keys.
  QRadialGradient ring(130, 406, 46);
  ring.setColorAt(0.0, QColor(150, 156, 166));
  ring.setColorAt(1.0, QColor(92, 96, 104));
  p.setBrush(ring);
  p.setPen(QPen(QColor(24, 24, 28), 2));
  p.drawEllipse(QPointF(130, 406), 44, 44);
}

void DrawArrow(QPainter& p, const QRect& r, int dx, int dy, const QColor& c) {
  QPointF m = QRectF(r).center();
  QPolygonF tri;
  if (dy) tri << QPointF(m.x() - 6, m.y() - 3 * dy) << QPointF(m.x() + 6, m.y() - 3 * dy)
              << QPointF(m.x(), m.y() + 4 * dy);
  else tri << QPointF(m.x() - 3 * dx, m.y() - 6) << QPointF(m.x() - 3 * dx, m.y() + 6)
           << QPointF(m.x() + 4 * dx, m.y());
  p.setBrush(c);
  p.setPen(Qt::NoPen);
  p.drawPolygon(tri);
}

void DrawKey(QPainter& p, const Key& k, bool pressed) {
  QRectF r = QRectF(k.rect).adjusted(1, 1, -1, -1);
  const bool nav = QString(k.name).startsWith("Spare") && QString(k.name) != "Spare 6" &&
                   QString(k.name) != "Spare 7";
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  QColor top = k.tint.isValid() ? k.tint.lighter(125) : QColor(222, 224, 228);
  QColor bottom = k.tint.isValid() ? k.tint.darker(115) : QColor(170, 174, 182);
  if (pressed) std::swap(top, bottom), top = top.darker(118), bottom = bottom.darker(125);
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  p.setRenderHint(QPainter::Antialiasing);
  if (nav && !k.round) {
    // Arrows sit on the ring; pressing darkens their patch of it.
    if (pressed) {
      p.setBrush(QColor(0, 0, 0, 70));
      p.setPen(Qt::NoPen);
      p.drawRoundedRect(r, 6, 6);
    }
  } else {
    p.setBrush(g);
    p.setPen(QPen(QColor(20, 20, 24), 1.5));
    if (k.round)
      p.drawEllipse(r);
    else
      p.drawRoundedRect(r, 9, 9);
  }
  const QColor ink = k.tint.isValid() ? QColor(250, 250, 250) : QColor(30, 32, 38);
  const QPoint shift = pressed ? QPoint(0, 1) : QPoint();
  QRect box = k.rect.translated(shift);
  const QString name(k.name);
  if (name == "Spare 1") DrawArrow(p, box, 0, -1, QColor(30, 32, 38));
  if (name == "Spare 2") DrawArrow(p, box, 0, 1, QColor(30, 32, 38));
  if (name == "Spare 3") DrawArrow(p, box, -1, 0, QColor(30, 32, 38));
  if (name == "Spare 4") DrawArrow(p, box, 1, 0, QColor(30, 32, 38));
  p.setPen(QPen(ink, 2.2, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  if (name == "Soft 1" || name == "Soft 2") {
    QPointF c = QRectF(box).center();
    p.drawLine(QPointF(c.x() - 10, c.y()), QPointF(c.x() + 10, c.y()));
  }
  if (name == "send" || name == "end") {
    // A handset receiver, lifted for send, laid down for end.
    QPointF c = QRectF(box).center();
    QPainterPath path;
    path.moveTo(c.x() - 9, c.y() + (name == "send" ? 3 : -1));
    path.quadTo(c.x(), c.y() - (name == "send" ? 7 : 3), c.x() + 9, c.y() + (name == "send" ? 3 : -1));
    p.drawPath(path);
  }
  if (name == "Spare 7") {
    // Home: a small house.
    QPointF c = QRectF(box).center();
    QPolygonF house;
    house << QPointF(c.x() - 7, c.y()) << QPointF(c.x(), c.y() - 6) << QPointF(c.x() + 7, c.y());
    p.drawPolyline(house);
    p.drawRect(QRectF(c.x() - 5, c.y(), 10, 6));
  }
  if (*k.label) {
    p.setPen(ink);
    p.setFont(QFont("DejaVu Sans", k.sub ? 12 : 12, QFont::Bold));
    QRect main = k.sub ? QRect(box.x() + 6, box.y(), 20, box.height()) : box;
    p.drawText(main, Qt::AlignCenter, k.label);
    if (k.sub) {
      p.setFont(QFont("DejaVu Sans", 7));
      p.drawText(QRect(box.x() + 24, box.y(), box.width() - 28, box.height()), Qt::AlignCenter,
                 k.sub);
    }
  }
}

QImage Draw(bool pressed) {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter p(&image);
  DrawBody(p);
  for (const Key& k : Keys()) DrawKey(p, k, pressed);
  return image;
}

QString Rect(const QRect& r) {
  return QString("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

bool WriteSettings(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return false;
  QTextStream out(&file);
  out << "; The default handset: a candy-bar phone with a 160 x 240 screen.\n"
         "; Made by tools/skindraw.cpp; see dist/skins/README.md.\n\n"
         "[screen]\npandetecttime=220\npanintervaltime=30\npanscreendelta=4\n"
      << "position=" << Rect(kScreen) << "\nhicolor=ffffff\nlocolor=000000\n\n"
      << "[images]\nhiskin0=skin0.png\nhiskin1=skin1.png\n\n[buttons]\n";
  for (const Key& k : Keys())
    out << k.name << "=" << Rect(k.rect) << ",1," << Rect(k.rect) << "\n";
  out << "\n[mapping]\nselect=Spare 5\nup=Spare 1\ndown=Spare 2\nprev=Spare 3\nnext=Spare 4\n"
         "soft1=Soft 1\nsoft2=Soft 2\nback=Spare 6\nhome=Spare 7\n\n[Accesskeys]\n";
  const char* pads[12] = {"Pad 0", "Pad 1", "Pad 2", "Pad 3", "Pad 4", "Pad 5",
                          "Pad 6", "Pad 7", "Pad 8", "Pad 9", "Pad *", "Pad #"};
  for (int i = 0; i < 12; ++i) out << pads[i] << "=" << i << "\n";
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QString folder = argc > 1 ? argv[1] : ".";
  bool ok = Draw(false).save(folder + "/skin0.png") && Draw(true).save(folder + "/skin1.png") &&
            WriteSettings(folder + "/default.ini");
  std::printf("%s\n", ok ? "written" : "failed");
  return ok ? 0 : 1;
}
