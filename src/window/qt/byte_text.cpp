#include "window/qt/byte_text.h"

#include <algorithm>

namespace kelvo {
namespace {

constexpr char16_t kStandIn = 0xDC00;  // + the byte, for bytes 0x80 to 0xFF

bool InRange(std::string_view bytes, std::size_t at, unsigned low, unsigned high) {
  if (at >= bytes.size()) return false;
  const auto byte = static_cast<unsigned char>(bytes[at]);
  return byte >= low && byte <= high;
}

// The length of the valid UTF-8 sequence at the start of bytes, or 0: no overlong forms, no
// surrogates, nothing past U+10FFFF.
std::size_t SequenceLength(std::string_view bytes) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  unsigned second_low = 0x80;
  unsigned second_high = 0xBF;
  std::size_t length = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) second_low = 0xA0;
    if (lead == 0xED) second_high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) second_low = 0x90;
    if (lead == 0xF4) second_high = 0x8F;
  } else {
    return 0;
  }
  if (!InRange(bytes, 1, second_low, second_high)) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!InRange(bytes, i, 0x80, 0xBF)) return 0;
  }
  return length;
}

}  // namespace

std::size_t CharacterLength(std::string_view bytes) {
  return std::max<std::size_t>(1, SequenceLength(bytes));
}

QString TextFromBytes(std::string_view bytes) {
  QString text;
  std::size_t run = 0;  // start of the valid UTF-8 not yet added
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = SequenceLength(bytes.substr(i));
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
