// The ESC/POS stream decoder of the preview, shared by the ESC/POS family
// and the PeriPage family (ESC/POS plus vendor commands, whose handling lives
// in decode_peripage.cpp).
//
// Consecutive raster commands of one page are stacked as bands; a paper
// feed between two bands leaves that many white rows. ESC/POS pages begin at
// each ESC @ (the renderer opens every page with one); PeriPage pages end
// at 10 FF FE 45.
#pragma once

#include "tools/preview/decode_internal.h"

// Both families' jobs may open with drawer pulses (ESC p m t1 t2): the
// bytes after them, with *n reduced to what is left.
const uint8_t* SkipDrawerPulses(const uint8_t* p, size_t* n);

class EscPosDecoder {
public:
    EscPosDecoder(DecodeContext& ctx, bool periPage) : ctx_(ctx), peri_(periPage) {}
    bool Run();

private:
    bool Command(size_t pos, size_t* next);
    bool Raster(size_t pos, size_t* next);
    // PeriPage vendor commands; *handled false when the bytes are not one.
    bool PeriPageCommand(size_t pos, size_t* next, bool* handled);
    bool DeflateFrame(size_t pos, size_t* next);
    // Puts rows of rowBytes bytes (1 = black) below what the page holds.
    bool AddBand(size_t pos, const uint8_t* rows, size_t rowBytes, size_t count, std::string* where);
    void EndPage(size_t pos, bool complete);

    DecodeContext& ctx_;
    const bool peri_;
    PreviewPage page_;
    int64_t nextRow_ = 0;      // row where the next band starts
    int64_t pendingFeed_ = 0;  // dots fed since the last band
    int bands_ = 0;
    bool pageOpen_ = false;
    int align_ = 0;  // ESC a: 0 left, 1 centre, 2 right; ESC @ sets it back to left
};
