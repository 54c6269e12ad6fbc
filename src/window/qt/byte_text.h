#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace kelvo {

// The form's texts are 8-bit bytes, as the settings file, the transfers and the log keep them;
// Qt shows Unicode. Valid UTF-8 shows as its text. Any other byte, such as a code-page letter
// in a path written on another system, shows as a stand-in (a lone low surrogate, which no
// text holds) that turns back into the same byte, so a text read back from a control is the
// bytes that went in.
QString TextFromBytes(std::string_view bytes);
std::string BytesFromText(const QString& text);

// The bytes of the one character that bytes starts with, as TextFromBytes shows it: a valid UTF-8
// sequence, or else a single byte.
std::size_t CharacterLength(std::string_view bytes);

}  // namespace kelvo
