#include "window/qt/byte_text.h"

#include <algorithm>

#include "image/utf8_sequence.h"

namespace kelvo {
namespace {

constexpr char16_t kStandIn = 0xDC00;  // + the byte, for bytes 0x80 to 0xFF

}  // namespace

std::size_t CharacterLength(std::string_view bytes) {
  return std::max<std::size_t>(1, Utf8SequenceLength(bytes));
}

QString TextFromBytes(std::string_view bytes) {
  QString text;
  std::size_t run = 0;  // start of the valid UTF-8 not yet added
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = Utf8SequenceLength(bytes.substr(i));
    if (length != 0) {
      i += length;
      continue;
    }
    text += QString::fromUtf8(bytes.data() + run, static_cast<qsizetype>(i - run));
    text += QChar(static_cast<char16_t>(kStandIn + static_cast<unsigned char>(bytes[i])));
    run = ++i;
  }
  return text + QString::fromUtf8(bytes.data() + run, static_cast<qsizetype>(bytes.size() - run));
}

std::string BytesFromText(const QString& text) {
  std::string bytes;
  qsizetype run = 0;  // start of the text not yet added
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i].unicode();
    const bool paired = i > 0 && text[i - 1].isHighSurrogate();
    if (unit < kStandIn + 0x80 || unit > kStandIn + 0xFF || paired) continue;
    bytes += text.sliced(run, i - run).toUtf8().toStdString();
    bytes += static_cast<char>(unit - kStandIn);
    run = i + 1;
  }
  return bytes + text.sliced(run).toUtf8().toStdString();
}

}  // namespace kelvo
