#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace framelog {

// A size on disk as a recipe writes it: a number (decimals allowed) and a
// unit, B, kB/MB/GB/TB (powers of 1000) or KiB/MiB/GiB/TiB (powers of
// 1024), in any letter case, with or without a space ("20GiB", "1.5 TB",
// "500MB"). A bare number is bytes. Nothing when the text does not read, is
// not above 0 or exceeds 8 EiB.
std::optional<qint64> parseByteSize(const QString &text);

// The shortest text that reads back to `bytes`: the largest binary unit
// that divides it ("20 GiB", "1536 MiB", "1000 B").
QString byteSizeText(qint64 bytes);

// A size for people, one decimal in the largest binary unit below it:
// "1.9 GiB", "512.0 KiB", "17 B".
QString roundedByteSizeText(qint64 bytes);

} // namespace framelog
