#include "bitmap/export_file.h"

#include <cstring>

bool StartExportFile(ExportFile& file, BmpHeader& header, platform::FileHandle handle, std::uint32_t width,
                     std::uint32_t height, Palette palette, bool png) {
    EndExportFile(file);
    file.File = handle;
    file.Png = png;
    file.Width = width;
    file.Height = height;
    file.Stride = RowStride(width);
    return png ? StartPngFile(file.Writer, handle, width, height, palette)
               : WriteBmpHeader(header, handle, width, height, palette);
}

void HoldWholePicture(ExportFile& file) {
    if (file.Png) file.Held = platform::Allocate<std::uint8_t>(std::uint64_t{file.Width} * file.Height);
}

bool WriteExportRows(ExportFile& file, std::uint64_t first, std::uint32_t count, const std::uint8_t* rows) {
    if (!file.Png) {
        std::uint32_t done = 0;
        const std::uint64_t at = kBmpHeaderSize + file.Stride * (file.Height - first - count);
        return platform::WriteFileAt(file.File, at, rows, static_cast<std::uint32_t>(file.Stride * count), &done);
    }
    // Given bottom first: picture row first + i is the count - 1 - i'th.
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* row = rows + file.Stride * (count - 1 - i);
        if (file.Held != nullptr)
            std::memcpy(file.Held.get() + std::uint64_t{file.Width} * (first + i), row, file.Width);
        else if (!WritePngRow(file.Writer, row))
            return false;
    }
    return true;
}

bool FinishExportFile(ExportFile& file) {
    if (!file.Png) return true;
    for (std::uint32_t r = 0; file.Held != nullptr && r < file.Height; ++r)
        if (!WritePngRow(file.Writer, file.Held.get() + std::uint64_t{file.Width} * r)) return false;
    return FinishPngFile(file.Writer);
}

void EndExportFile(ExportFile& file) {
    EndPngFile(file.Writer);
    file.Held.reset();
}
