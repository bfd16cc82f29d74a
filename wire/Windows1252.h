#pragma once

#include <QByteArray>
#include <QString>

// The single-byte code page that a peer without framing uses for its text.
// Bytes 0x80-0x9F carry typographic characters (euro sign, curly quotes, dashes);
// the five bytes the code page leaves undefined map to the C1 control of the same value,
// so every byte decodes and encodes back to itself.
namespace Windows1252 {

QString decode(const QByteArray &bytes);

// Characters the code page cannot hold become '?'. Characters outside the Basic
// Multilingual Plane become a single '?', not two.
QByteArray encode(const QString &text);

} // namespace Windows1252
