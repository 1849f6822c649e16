// Register tables in the layout Linux I2C users know from their dump tool.
#pragma once

#include <array>
#include <ostream>

namespace zelsmbus_tool {

// One cell per register: 0-255 a byte read, kFailed a read no device
// acknowledged, kUnread a read the tool could not make (the bus lock held by
// another program, another error), kBlank not part of the table.
constexpr int kFailed = -1;
constexpr int kBlank = -2;
constexpr int kUnread = -3;

using ByteCells = std::array<int, 256>;

// 16 bytes a row, "XX" for a read not acknowledged, "UU" for one not made,
// then the ASCII column ('.' for 0x00 and 0xff, '?' for other unprintable
// bytes, 'X' and 'U' for those failures). Rows that hold
// only blank cells are left out.
void printByteTable(std::ostream &out, const ByteCells &cells);

// Words of registers 0x00-0xff, 8 a row, "XXXX" and "UUUU" for the failures; rows that
// hold only blank cells are left out.
void printWordTable(std::ostream &out, const std::array<int, 256> &words);

}  // namespace zelsmbus_tool
