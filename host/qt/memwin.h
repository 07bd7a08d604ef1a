// The memory-usage window: a diagnostic view of the engine's memory block
// as two maps of coloured pixels, one coloured by use code and one by
// module id. Each pixel stands for 4 bytes of the block, each row for 1024.
// Nothing in the emulator opens it; a developer calls these by hand.
#pragma once
#include <cstdint>

class QWidget;

// Opens the window over the block; a second call replaces the first window.
// A null or empty block shows "Unable to create memory window" instead.
void ShellMemWinCreate(const void* blockStart, uint32_t blockSize);
// Colours the pixels of [address, address + size) by use code and module id
// and repaints; the part outside the block is ignored.
void ShellMemWinMark(const void* address, uint32_t size, uint32_t use, uint32_t module);
// Returns those pixels to white (255) in both maps.
void ShellMemWinClear(const void* address, uint32_t size);
// Closes the window.
void ShellMemWinDestroy();

// For tests and tools: the window (null when closed) and the value of one
// pixel of the use map (map 0) or the module map (map 1); -1 outside.
QWidget* ShellMemWinWidget();
int ShellMemWinPixel(int map, int x, int y);
