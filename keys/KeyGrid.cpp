#include "KeyGrid.h"

#include "KeySet.h"

namespace comkeys {

namespace {
    constexpr int Rows = 16;
    constexpr int ColumnPitch = 4920;
    constexpr int RowPitch = 544;
    constexpr int TextOffset = 2400;
} // namespace

int keyIndexAt(int page, int column, int row)
{
    const int cell = Rows * column + row;
    return page == 0 ? cell : KeysPerPage * page + KeysPerPage - 1 - cell;
}

KeyCell keyCell(int index)
{
    const int page = index / KeysPerPage;
    const int within = index % KeysPerPage;
    const int cell = page == 0 ? within : KeysPerPage - 1 - within;
    return { cell / Rows, cell % Rows };
}

QRect keyButtonTwips(int index)
{
    const KeyCell c = keyCell(index);
    return QRect(ColumnPitch * c.column, RowPitch * c.row, 2295, 495);
}

QRect keyTextTwips(int index)
{
    const KeyCell c = keyCell(index);
    return QRect(TextOffset + ColumnPitch * c.column, RowPitch * c.row, 2415, 495);
}

} // namespace comkeys
