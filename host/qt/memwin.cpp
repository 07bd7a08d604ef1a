#include "host/qt/memwin.h"

#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

#include "host/platform/shell.h"

namespace {

constexpr int kWidth = 256;  // pixels of a row: 1024 bytes
constexpr int kWhite = 255;
constexpr int kMapTop = 20, kGap = 30;

QVector<QRgb> Palette(std::initializer_list<std::pair<int, QRgb>> colours) {
  QVector<QRgb> table(256, qRgb(0, 0, 0));
  table[kWhite] = qRgb(255, 255, 255);
  for (const auto& [index, rgb] : colours) table[index] = rgb;
  return table;
}

class MemWindow : public QWidget {
 public:
  MemWindow(uintptr_t start, uint32_t size)
      : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint),
        start_(start),
        pixels_(size / 4),
        rows_(static_cast<int>((size / 4 + kWidth - 1) / kWidth)) {
    setObjectName("QorMemClass");
    setWindowTitle("QOR Memory Usage");
    setAttribute(Qt::WA_DeleteOnClose, false);
    for (int m = 0; m < 2; ++m) {
      maps_[m] = QImage(kWidth, rows_, QImage::Format_Indexed8);
      maps_[m].fill(kWhite);
    }
    maps_[0].setColorTable(Palette({{3, qRgb(255, 255, 0)}, {4, qRgb(0, 255, 255)},
                                    {13, qRgb(0, 255, 0)}, {14, qRgb(0, 0, 255)},
                                    {17, qRgb(0, 0, 255)}, {41, qRgb(255, 0, 0)}}));
    maps_[1].setColorTable(Palette({{23, qRgb(255, 0, 0)}, {25, qRgb(0x44, 0x44, 0x44)},
                                    {34, qRgb(0, 255, 0)}, {35, qRgb(0, 0, 255)},
                                    {37, qRgb(0xAA, 0xAA, 0xAA)}, {38, qRgb(0, 255, 255)}}));
    (new QLabel("Coloured by Usage:", this))->move(1, 2);
    (new QLabel("Coloured by Module:", this))->move(1, rows_ + kGap);
    useLabel_ = new QLabel("Use Code:", this);
    useLabel_->move(128, 2);
    moduleLabel_ = new QLabel("Module Code:", this);
    moduleLabel_->move(128, rows_ + kGap);
    for (QLabel* label : {useLabel_, moduleLabel_}) label->setMinimumWidth(kWidth - 128);
    setFixedSize(kWidth, 2 * rows_ + 50);
    move(10, 100);
  }

  // Sets `count` pixels from `first` in both maps, clipped to the block.
  void Set(intptr_t first, intptr_t count, int use, int module) {
    const intptr_t begin = first < 0 ? 0 : first;
    const intptr_t end = first + count > static_cast<intptr_t>(pixels_)
                             ? static_cast<intptr_t>(pixels_)
                             : first + count;
    for (intptr_t p = begin; p < end; ++p) {
      const int x = static_cast<int>(p % kWidth), y = static_cast<int>(p / kWidth);
      maps_[0].scanLine(y)[x] = static_cast<uchar>(use);
      maps_[1].scanLine(y)[x] = static_cast<uchar>(module);
    }
    update();
  }

  // Rounds down also before the block, so a mark there never reaches pixel 0.
  intptr_t PixelOf(const void* address) const {
    const intptr_t offset = static_cast<intptr_t>(reinterpret_cast<uintptr_t>(address) - start_);
    return offset >= 0 ? offset / 4 : -((-offset + 3) / 4);
  }

  int Pixel(int map, int x, int y) const {
    if (map < 0 || map > 1 || x < 0 || x >= kWidth || y < 0 || y >= rows_) return -1;
    return maps_[map].pixelIndex(x, y);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.drawImage(0, kMapTop, maps_[0]);
    painter.drawImage(0, rows_ + 50, maps_[1]);
  }

  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    int row = -1;
    if (at.y() >= kMapTop && at.y() < kMapTop + rows_) row = at.y() - kMapTop;
    if (at.y() >= rows_ + 50 && at.y() < 2 * rows_ + 50) row = at.y() - rows_ - 50;
    if (row < 0 || at.x() < 0 || at.x() >= kWidth) return;
    useLabel_->setText(QString::asprintf("Use Code: %u", Pixel(0, at.x(), row)));
    moduleLabel_->setText(QString::asprintf("Module Code: %u", Pixel(1, at.x(), row)));
  }

 private:
  uintptr_t start_;
  uint32_t pixels_;
  int rows_;
  QImage maps_[2];
  QLabel* useLabel_;
  QLabel* moduleLabel_;
};

MemWindow* gWindow = nullptr;

}  // namespace

void ShellMemWinCreate(const void* blockStart, uint32_t blockSize) {
  ShellMemWinDestroy();
  if (!blockStart || blockSize < 4) {
    HostMessageBox("Unable to create memory window");
    return;
  }
  gWindow = new MemWindow(reinterpret_cast<uintptr_t>(blockStart), blockSize);
  gWindow->show();
}

void ShellMemWinMark(const void* address, uint32_t size, uint32_t use, uint32_t module) {
  if (gWindow)
    gWindow->Set(gWindow->PixelOf(address), size / 4, static_cast<int>(use & 0xFF),
                 static_cast<int>(module & 0xFF));
}

void ShellMemWinClear(const void* address, uint32_t size) {
  if (gWindow) gWindow->Set(gWindow->PixelOf(address), size / 4, kWhite, kWhite);
}

void ShellMemWinDestroy() {
  delete gWindow;
  gWindow = nullptr;
}

QWidget* ShellMemWinWidget() { return gWindow; }

int ShellMemWinPixel(int map, int x, int y) { return gWindow ? gWindow->Pixel(map, x, y) : -1; }
