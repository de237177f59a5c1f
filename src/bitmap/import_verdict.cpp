#include "bitmap/import_verdict.h"

#include "report/import_report.h"

std::string CutShortNote(const std::string& missing) {
    return missing +
           ": it is cut short, most likely an interrupted copy or download (or a disk that filled while it was "
           "saved). Copy it again, or export the layer again and repeat the edit";
}

namespace {

std::string SizeNote(std::uint32_t width, std::int64_t height, const ImportLayer& layer) {
    const std::string needed = console::Dec(layer.Width) + " x " + console::Dec(layer.Height);
    std::string note = "The image is " + console::Dec(width) + " x " + std::to_string(height) + " pixels; " +
                       layer.Name + " of this world needs exactly " + needed;
    if (layer.Block > 1) note += " (" + console::Dec(layer.Block) + " x " + console::Dec(layer.Block) + " per cell)";
    // Scaling would smear the values over their neighbours: the way back is a
    // fresh export of this world, painted at its own size.
    return note + ": is it the bitmap of another layer or world? Export the layer from this world again and " +
           "paint on that, without scaling or cropping it";
}

}  // namespace

ImportVerdict JudgeSize(std::uint32_t width, std::int64_t height, const ImportLayer& layer) {
    if (width != layer.Width)
        return Refused("Width of BMP is not equal to " + console::Dec(layer.Width) + "!",
                       SizeNote(width, height, layer));
    if (height != layer.Height)
        return Refused("Height of BMP is not equal to " + console::Dec(layer.Height) + "!",
                       SizeNote(width, height, layer));
    return Accepted();
}

std::string TakenByColourNote(const ImportLayer& layer, const std::string& kind, std::uint64_t offColour) {
    const bool landType = layer.Colours == Palette::LandType;
    const char* colours = landType ? "green, grey or yellow" : "grey";
    std::string note = std::string(layer.Name) + ": taken by colour from " + kind + "; ";
    if (offColour == 0) return note + "every pixel is exactly " + colours;
    return note + Grouped(offColour) + " of " + Grouped(std::uint64_t{layer.Width} * layer.Height) +
           " pixels were not exactly " + colours + " and took " +
           (landType ? "the nearest of those colours" : "their brightness");
}
