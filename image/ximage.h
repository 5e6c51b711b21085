// CxImage: the in-memory raster image of the filter (one per renderer, the
// page image), with the value types it is built from. The declarations of
// every toolkit operation live here; their code is split by concern over
// image/xima*.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/ximath.h"

#pragma pack(push, 1)
// One palette entry as stored in the pixel block: blue, green, red, reserved.
struct tagRGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};

// The 40-byte BMP image header. The pixel block starts with a byte copy of it,
// so the layout must be the file's: packed, little-endian fields.
struct tagBITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
#pragma pack(pop)

static_assert(sizeof(tagRGBQUAD) == 4, "palette entries are 4 bytes");
static_assert(sizeof(tagBITMAPINFOHEADER) == 40, "the BMP info header is 40 bytes");
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the header copy is stored in host order");
#endif

// The three texts Create leaves in the last error field.
#define CXIMAGE_ERR_NOSIZE "CxImage::Create : width and height must be greater than zero"
#define CXIMAGE_ERR_MAXMEM "CXIMAGE_MAX_MEMORY exceeded"
#define CXIMAGE_ERR_NOMEM "CxImage::Create can't allocate memory"

// Limit on width x height x depth / 8 of any image, tested in float.
#define CXIMAGE_MAX_MEMORY 268435456.0f

class CxImage {
public:
    // Operations of Mix. The filter only uses OpOverlay (9).
    enum ImageOpType {
        OpAdd = 0,
        OpSub = 1,
        OpAnd = 2,
        OpOr = 3,
        OpXor = 4,
        OpMask = 5,
        OpSrcCopy = 6,
        OpDstCopy = 7,
        OpBlend = 8,
        OpOverlay = 9,
        OpMultiply = 10,
        OpScreen = 11
    };

    // ---- creation and lifetime (ximage.cpp) ----
    explicit CxImage(unsigned type = 0);
    CxImage(unsigned width, unsigned height, unsigned bpp, unsigned type = 0);
    // Deep copy (pixels, palette, alpha); never shares the pixel block.
    CxImage(const CxImage& src);
    virtual ~CxImage();

    bool Destroy();
    // Blank image; returns the pixel block or null (reason in GetLastError).
    void* Create(unsigned width, unsigned height, unsigned bpp, unsigned type = 0);
    // Copies height rows of bytesPerLine bytes from data (1, 4, 8, 24 or 32
    // bits per pixel; 32 becomes 24 bits plus an alpha plane).
    bool CreateFromArray(const unsigned char* data, unsigned width, unsigned height, unsigned bitsPerPixel,
                         unsigned bytesPerLine, bool flip);
    void Copy(const CxImage& src, bool copyPixels = true, bool copySelection = true, bool copyAlpha = true);
    CxImage& operator=(const CxImage& src);
    void CopyInfo(const CxImage& src);
    bool Transfer(CxImage& from, bool transferFrames = true);

    // ---- layout accessors (ximage.cpp); zero / null on an empty image ----
    bool IsValid() const { return m_dib != nullptr; }
    uint8_t* GetBits(unsigned row = 0);
    const uint8_t* GetBits(unsigned row = 0) const;
    size_t GetSize() const;
    unsigned GetWidth() const { return m_dib ? static_cast<unsigned>(m_head.biWidth) : 0u; }
    unsigned GetHeight() const { return m_dib ? static_cast<unsigned>(m_head.biHeight) : 0u; }
    unsigned GetBpp() const { return m_dib ? static_cast<unsigned>(m_head.biBitCount) : 0u; }
    unsigned GetEffWidth() const { return m_dib ? m_info.effWidth : 0u; }
    unsigned GetType() const { return m_info.type; }
    unsigned GetNumColors() const { return m_dib ? m_head.biClrUsed : 0u; }
    const tagBITMAPINFOHEADER& GetHeader() const { return m_head; }

    // ---- information fields (ximainfo.cpp) ----
    const char* GetLastError() const { return m_info.lastError; }
    void SetXDPI(int dpi);
    void SetYDPI(int dpi);
    int GetXDPI() const { return m_info.xDpi; }
    int GetYDPI() const { return m_info.yDpi; }
    unsigned GetClrImportant() const { return m_head.biClrImportant; }
    void SetClrImportant(unsigned n);
    tagRGBQUAD GetBkColor() const { return m_info.bkColor; }

    // ---- selection (ximasel.cpp): no mask is kept, so this is the image test ----
    bool IsInside(long x, long y) const;

    // ---- palette (ximapal.cpp) ----
    unsigned GetPaletteSize() const;
    tagRGBQUAD* GetPalette() const;
    tagRGBQUAD GetPaletteColor(unsigned index) const;
    void SetPaletteColor(unsigned index, uint8_t r, uint8_t g, uint8_t b, uint8_t alpha = 0);
    void SetPaletteColor(unsigned index, tagRGBQUAD c);
    void SetPalette(const tagRGBQUAD* entries, unsigned count = 256);
    void SetGrayPalette();
    bool IsGrayScale() const;
    uint8_t GetNearestIndex(tagRGBQUAD c);

    // ---- pixels (ximainfo.cpp); Blind forms take only inside coordinates ----
    uint8_t GetPixelIndex(long x, long y) const;
    void SetPixelIndex(long x, long y, uint8_t index);
    tagRGBQUAD GetPixelColor(long x, long y, bool getAlpha = true) const;
    tagRGBQUAD BlindGetPixelColor(long x, long y, bool getAlpha = true) const;
    void SetPixelColor(long x, long y, tagRGBQUAD c, bool setAlpha = false);
    void BlindSetPixelColor(long x, long y, tagRGBQUAD c, bool setAlpha = false);
    inline uint8_t BlindGetPixelIndex(long x, long y) const;
    inline void BlindSetPixelIndex(long x, long y, uint8_t index);

    // ---- transparency (ximainfo.cpp) ----
    long GetTransIndex() const { return m_info.transIndex; }
    void SetTransIndex(long index);
    tagRGBQUAD GetTransColor() const;
    bool IsTransparent(long x, long y) const;

    // ---- alpha plane (ximalpha.cpp) ----
    bool AlphaIsValid() const { return m_alpha != nullptr; }
    bool AlphaCreate();
    void AlphaDelete();
    void AlphaClear();
    bool AlphaCopy(const CxImage& from);
    uint8_t AlphaGet(long x, long y) const;
    uint8_t BlindAlphaGet(long x, long y) const {
        return m_alpha[static_cast<size_t>(x) + static_cast<size_t>(y) * static_cast<size_t>(m_head.biWidth)];
    }
    void AlphaSet(long x, long y, uint8_t value);
    uint8_t AlphaGetMax() const { return m_info.alphaMax; }
    void AlphaSetMax(uint8_t value) { m_info.alphaMax = value; }
    // Start of the plane (row y at offset y x width), or null.
    uint8_t* AlphaGetPointer() const { return m_alpha; }

    // ---- geometric transforms (ximatran.cpp) ----
    bool Rotate(float angle, CxImage* dst = nullptr);
    bool Rotate180(CxImage* dst = nullptr);
    bool Crop(const tagRECT& rect, CxImage* dst = nullptr);
    bool Crop(int left, int top, int right, int bottom, CxImage* dst = nullptr);

    // ---- tone operations: GrayScale in ximatran.cpp, the rest in ximadsp.cpp ----
    bool GrayScale();
    bool Light(int brightness, int contrast = 0);
    bool Lut(unsigned char* table);
    bool Threshold(unsigned char level);
    void Mix(CxImage& src, ImageOpType op, int offsetX = 0, int offsetY = 0, bool mixAlpha = false);

    // ---- dithering (ximadither.cpp) ----
    bool Dither(int method = 0);

protected:
    // Fields that travel with the image besides the header.
    struct Info {
        uint32_t effWidth;       // bytes per row, a multiple of 4
        uint8_t* pixels;         // first byte of row 0 inside m_dib
        uint32_t type;           // format type code, carried along by copies
        char lastError[256];
        long transIndex;         // -1: no transparent index
        tagRGBQUAD bkColor;
        uint8_t alphaMax;
        int xDpi;
        int yDpi;
        bool enabled;
        tagRGBQUAD nearestColor; // GetNearestIndex cache
        uint8_t nearestIndex;
        bool nearestValid;
    };

    // Stores text (truncated to the field) as the last error.
    void SetLastError(const char* text);
    // Makes result a blank w x h image of bpp bits carrying this image's
    // information fields; on failure copies its message into this image's
    // last error text and returns false.
    bool CreateResult(CxImage& result, unsigned w, unsigned h, unsigned bpp);
    // Puts the empty-image defaults of the constructor into header and info.
    void ResetFields(unsigned type);
    // Row pointer without range test; row < height on a valid image.
    uint8_t* RowPtr(unsigned row) const { return m_info.pixels + static_cast<size_t>(row) * m_info.effWidth; }

    void* m_dib;              // header copy + palette + rows, or null
    tagBITMAPINFOHEADER m_head;
    Info m_info;
    uint8_t* m_alpha;         // width x height bytes, or null
};

inline uint8_t CxImage::BlindGetPixelIndex(long x, long y) const {
    const uint8_t* row = RowPtr(static_cast<unsigned>(y));
    switch (m_head.biBitCount) {
    case 8:
        return row[x];
    case 4: {
        const uint8_t b = row[x >> 1];
        return (x & 1) ? static_cast<uint8_t>(b & 0x0F) : static_cast<uint8_t>(b >> 4);
    }
    case 1:
        return static_cast<uint8_t>((row[x >> 3] >> (7 - (x & 7))) & 1);
    default:
        return 0;
    }
}

inline void CxImage::BlindSetPixelIndex(long x, long y, uint8_t index) {
    uint8_t* row = RowPtr(static_cast<unsigned>(y));
    switch (m_head.biBitCount) {
    case 8:
        row[x] = index;
        break;
    case 4: {
        uint8_t& b = row[x >> 1];
        if (x & 1)
            b = static_cast<uint8_t>((b & 0xF0) | (index & 0x0F));
        else
            b = static_cast<uint8_t>((b & 0x0F) | ((index & 0x0F) << 4));
        break;
    }
    case 1: {
        uint8_t& b = row[x >> 3];
        const uint8_t mask = static_cast<uint8_t>(0x80u >> (x & 7));
        b = (index & 1) ? static_cast<uint8_t>(b | mask) : static_cast<uint8_t>(b & ~mask);
        break;
    }
    default:
        break;
    }
}
