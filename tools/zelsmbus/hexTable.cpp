#include "hexTable.h"

#include <cstdio>

namespace zelsmbus_tool {
namespace {

char asciiOf(int cell) {
    if (cell == kBlank) return ' ';
    if (cell == kFailed) return 'X';
    if (cell == kUnread) return 'U';
    if (cell == 0x00 || cell == 0xFF) return '.';
    if (cell < 32 || cell >= 127) return '?';
    return static_cast<char>(cell);
}

}  // namespace

void printByteTable(std::ostream &out, const ByteCells &cells) {
    out << "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
    for (int row = 0; row < 256; row += 16) {
        bool any = false;
        for (int i = row; i < row + 16; ++i) any = any || cells[i] != kBlank;
        if (!any) continue;
        char text[16];
        std::snprintf(text, sizeof text, "%02x: ", row);
        out << text;
        for (int i = row; i < row + 16; ++i) {
            if (cells[i] == kBlank) {
                out << "   ";
            } else if (cells[i] == kFailed) {
                out << "XX ";
            } else if (cells[i] == kUnread) {
                out << "UU ";
            } else {
                std::snprintf(text, sizeof text, "%02x ", cells[i]);
                out << text;
            }
        }
        out << "   ";
        for (int i = row; i < row + 16; ++i) out << asciiOf(cells[i]);
        out << '\n';
    }
}

void printWordTable(std::ostream &out, const std::array<int, 256> &words) {
    out << "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f\n";
    for (int row = 0; row < 256; row += 8) {
        bool any = false;
        for (int i = row; i < row + 8; ++i) any = any || words[i] != kBlank;
        if (!any) continue;
        char text[16];
        std::snprintf(text, sizeof text, "%02x: ", row);
        out << text;
        for (int i = row; i < row + 8; ++i) {
            if (words[i] == kBlank) {
                out << "     ";
            } else if (words[i] == kFailed) {
                out << "XXXX ";
            } else if (words[i] == kUnread) {
                out << "UUUU ";
            } else {
                std::snprintf(text, sizeof text, "%04x ", words[i]);
                out << text;
            }
        }
        out << '\n';
    }
}

}  // namespace zelsmbus_tool
