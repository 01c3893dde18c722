#pragma once

#include <QRect>

namespace comkeys {

// Positions in twips; one pixel is 15 twips at 96 dots per inch.
constexpr int TwipsPerPixel = 15;
inline int toPixels(int twips) { return qRound(twips / double(TwipsPerPixel)); }
inline QRect twipsRect(int left, int top, int width, int height)
{
    // Round the edges, not the sizes, so neighbouring controls meet where they meet in twips.
    const int x = toPixels(left);
    const int y = toPixels(top);
    return QRect(x, y, toPixels(left + width) - x, toPixels(top + height) - y);
}

constexpr int PageLeftShown = 0;
constexpr int PageLeftAtStart = 15000; // pages 1 to 3 at creation
constexpr int PageLeftPutAway = 14875; // where a page selection puts the other pages

struct KeyCell {
    int column; // 0 to 2, left to right
    int row; // 0 to 15, top to bottom
};

// Page 0 runs down the columns from its first key; pages 1 to 3 run the other way round, from
// the bottom of the right column.
int keyIndexAt(int page, int column, int row);
KeyCell keyCell(int index);

// Rectangles (twips) inside the key's page panel.
QRect keyButtonTwips(int index);
QRect keyTextTwips(int index);

} // namespace comkeys
