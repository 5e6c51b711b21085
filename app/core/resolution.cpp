// Raster resolutions a printer takes: see resolution.h.
#include "app/core/resolution.h"

bool DfAppResolutionSupported(pappl_printer_t* printer, const cups_page_header2_t& header, std::string& why) {
    pappl_pr_driver_data_t data;
    if (!papplPrinterGetDriverData(printer, &data)) return true;
    const unsigned x = header.HWResolution[0], y = header.HWResolution[1];
    for (int i = 0; i < data.num_resolution && i < PAPPL_MAX_RESOLUTION; i++)
        if (x == static_cast<unsigned>(data.x_resolution[i]) &&
            y == static_cast<unsigned>(data.y_resolution[i]))
            return true;
    why = "it is at " + std::to_string(x) + "x" + std::to_string(y) + " dpi and the printer prints at " +
          std::to_string(data.x_default) + "x" + std::to_string(data.y_default) + " dpi";
    return false;
}
