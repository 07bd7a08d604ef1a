#include "host/qt/soundqt.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QTimer>
#include <cmath>
#include <deque>
#include <memory>

#include "host/sound.h"

namespace {

constexpr int kFeedMs = 10;

QAudioFormat QtFormat(const WaveFormat& f) {
  QAudioFormat q;
  q.setSampleRate(static_cast<int>(f.rate));
  q.setChannelCount(f.channels);
  q.setSampleFormat(f.bits == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
  return q;
}

// One player's stream, pushed into its sink as the sink has room. A buffer
// is done once the sink has taken its last byte.
struct QtWaveStream {
  std::unique_ptr<QAudioSink> sink;
  QIODevice* io = nullptr;
  QTimer timer;
  std::deque<WaveHeader*> queue;
  uint32_t offset = 0;
  WavePlayer* player = nullptr;

  void Feed() {
    while (!queue.empty()) {
      WaveHeader* h = queue.front();
      qint64 room = sink->bytesFree();
      if (room <= 0 && h->length > offset) return;
      qint64 n = std::min<qint64>(room, h->length - offset);
      qint64 w = n > 0 ? io->write(reinterpret_cast<const char*>(h->data) + offset, n) : 0;
      if (w < 0) w = n;  // a sink that failed drops the data; completions still come
      offset += static_cast<uint32_t>(w);
      if (offset < h->length) return;
      queue.pop_front();
      offset = 0;
      WaveNotifyDone(player, h);
    }
  }
};

bool QtSupports(void*, const WaveFormat* f) {
  if (f->channels == 0 || f->rate == 0 || (f->bits != 8 && f->bits != 16)) return false;
  QAudioDevice device = QMediaDevices::defaultAudioOutput();
  return !device.isNull() && device.isFormatSupported(QtFormat(*f));
}

void* QtOpen(void*, const WaveFormat* f, WavePlayer* player) {
  auto* s = new QtWaveStream;
  s->player = player;
  s->sink = std::make_unique<QAudioSink>(QMediaDevices::defaultAudioOutput(), QtFormat(*f));
  s->io = s->sink->start();
  if (!s->io) {
    delete s;
    return nullptr;
  }
  s->timer.setInterval(kFeedMs);
  QObject::connect(&s->timer, &QTimer::timeout, [s] { s->Feed(); });
  s->timer.start();
  return s;
}

void QtWrite(void*, void* stream, WaveHeader* header) {
  auto* s = static_cast<QtWaveStream*>(stream);
  s->queue.push_back(header);
  s->Feed();
}

void QtClose(void*, void* stream) {
  auto* s = static_cast<QtWaveStream*>(stream);
  s->timer.stop();
  s->sink->stop();
  delete s;
}

const WaveOutOps kQtWaveOut{nullptr, QtSupports, QtOpen, QtWrite, QtClose};

void QtWake() {
  if (QCoreApplication* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(app, [] { WaveDeliverDone(); }, Qt::QueuedConnection);
}

// ---- system sounds ----------------------------------------------------------

// The desktop has no sound of its own by these names: every alias plays the
// same short rising chime.
struct QtChime {
  std::unique_ptr<QAudioSink> sink;
  QByteArray pcm;
  QBuffer buffer;
};
QtChime* gChime = nullptr;

QByteArray QtChimeSamples(int rate) {
  QByteArray pcm;
  const double tones[][2] = {{660.0, 0.12}, {880.0, 0.22}};
  for (const auto& tone : tones) {
    int n = static_cast<int>(rate * tone[1]);
    for (int i = 0; i < n; ++i) {
      double fade = 1.0 - static_cast<double>(i) / n;
      auto v = static_cast<int16_t>(9000.0 * fade * std::sin(2 * M_PI * tone[0] * i / rate));
      pcm.append(static_cast<char>(v & 0xFF));
      pcm.append(static_cast<char>(v >> 8 & 0xFF));
    }
  }
  return pcm;
}

void QtStopSystem(void*) {
  if (gChime) gChime->sink->stop();
}

void QtPlaySystem(void*, const char*) {
  QtStopSystem(nullptr);
  QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (device.isNull()) return;
  if (!gChime) {
    WaveFormat f{1, 22050, 16};
    if (!device.isFormatSupported(QtFormat(f))) return;
    gChime = new QtChime;
    gChime->sink = std::make_unique<QAudioSink>(device, QtFormat(f));
    gChime->pcm = QtChimeSamples(static_cast<int>(f.rate));
    gChime->buffer.setBuffer(&gChime->pcm);
  }
  gChime->buffer.close();
  gChime->buffer.open(QIODevice::ReadOnly);
  gChime->sink->start(&gChime->buffer);
}

const SoundSystemOps kQtSystem{nullptr, QtPlaySystem, QtStopSystem};

}  // namespace

void SoundQtInstall() {
  WaveSetWake(QtWake);
  WaveOutInstall(&kQtWaveOut);
  SoundSystemInstall(&kQtSystem);
}

void SoundQtUninstall() {
  SoundSystemInstall(nullptr);
  WaveOutInstall(nullptr);
  WaveSetWake(nullptr);
  delete gChime;
  gChime = nullptr;
}
