// lumora-demodata OUTDIR: writes the demonstration images into OUTDIR.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "DemoData.h"

int main(int argc, char* argv[])
{
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fprintf(argc == 2 ? stdout : stderr,
                     "Usage: lumora-demodata OUTDIR\n"
                     "Writes synthetic microscopy images into OUTDIR:\n"
                     "  cells.ics               x, y, z, ch = 256 x 256 x 48 x 3, 100 x 100 x 300 nm\n"
                     "  cells_z000_c0.tif ...   the same image as a TIFF series\n"
                     "  spectral.ics            x, y, wl (wavelength) = 128 x 128 x 1024\n");
        return argc == 2 ? 0 : 2;
    }
    const std::filesystem::path out(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(out, error);
    if (error) {
        std::fprintf(stderr, "lumora-demodata: cannot create %s: %s\n", argv[1], error.message().c_str());
        return 1;
    }

    const DemoData::Volume cells = DemoData::MakeCells(256, 256, 48);
    if (!DemoData::WriteICS(cells, out / "cells.ics")) {
        std::fprintf(stderr, "lumora-demodata: cannot write %s\n", (out / "cells.ics").c_str());
        return 1;
    }
    const std::filesystem::path& series = out;
    if (!DemoData::WriteTIFFSeries(cells, series, "cells")) {
        std::fprintf(stderr, "lumora-demodata: cannot write the TIFF series in %s\n", series.c_str());
        return 1;
    }
    const DemoData::Volume spectral = DemoData::MakeSpectral(128, 128, 1024);
    if (!DemoData::WriteICS(spectral, out / "spectral.ics")) {
        std::fprintf(stderr, "lumora-demodata: cannot write %s\n", (out / "spectral.ics").c_str());
        return 1;
    }
    std::printf("Wrote %s, %s and %s\n", (out / "cells.ics").c_str(), (series / "cells_z000_c0.tif").c_str(),
                (out / "spectral.ics").c_str());
    return 0;
}
