#pragma once

#include <QImage>
#include <QtGlobal>

namespace framelog {

// How two pictures differ, counted in blocks of 8 x 8 pixels (the blocks at
// the right and bottom edges may be smaller).
struct BlockChange {
    qint64 changed = 0; // blocks with at least one differing pixel
    qint64 blocks = 0;  // blocks in the picture

    // 0 for identical pixels, 1 when every block changed.
    double share() const { return blocks == 0 ? 0.0 : double(changed) / double(blocks); }
};

// Compares two pictures pixel by pixel, before they are encoded. Pictures of
// different sizes count as wholly changed (and a null picture against one
// that is not). Two 32-bit pictures of one format (a capture bitmap is one)
// are compared in place, without allocating; any other pair is converted to
// the capture format first, which costs a copy of each.
//
// Cheap enough for every tick: each 8-row band is first compared as whole
// rows, and only a band that differs is looked at block by block, each block
// stopping at its first differing row.
BlockChange compareBlocks(const QImage &a, const QImage &b);

// True when every pixel of `picture` has the same value: a blank page or a
// camera stream that shows one colour. A null picture is not flat.
bool isFlatColour(const QImage &picture);

} // namespace framelog
