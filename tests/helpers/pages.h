// Test helper: prepared page bitmaps as renderers receive them, spool capture
// and small byte-vector builders shared by the renderer tests.
#pragma once

#include <functional>
#include <initializer_list>
#include <vector>

#include "helpers/hexdump.h"
#include "image/ximage.h"

// Makes img a page as the preparation leaves it: 1 bit per dot, 0 = black,
// pseudo-random dots from seed, row tails white. Rows for which whiteRow is
// true are all white.
void FillPreparedPage(CxImage& img, unsigned w, unsigned h, unsigned seed = 1,
                      const std::function<bool(unsigned)>& whiteRow = nullptr);

// The first bytesPerRow bytes of every row of img, inverted (1 = black), as
// the raster commands carry them; rows for which skipRow is true are left out.
ByteVec InvertedRows(CxImage& img, unsigned bytesPerRow,
                     const std::function<bool(unsigned)>& skipRow = nullptr);

ByteVec Cat(std::initializer_list<ByteVec> parts);

// GS v 0 header: 1D 76 30 m xL xH yL yH.
ByteVec RasterHeader(int mode, int bytesPerRow, int rows);

// A renderer whose spool writes are kept instead of sent: each write on its
// own and the whole stream in out.
template <class Render>
class Captured : public Render {
public:
    std::vector<ByteVec> writes;
    ByteVec out;
    void WriteSpool(const void* data, int len) override {
        if (len <= 0) return;
        const unsigned char* p = static_cast<const unsigned char*>(data);
        writes.emplace_back(p, p + len);
        out.insert(out.end(), p, p + len);
    }
    const ByteVec& All() const { return out; }
};
