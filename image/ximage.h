// Placeholder: the image container is being written; this declares only what
// the driver and renderer base use so the tree builds meanwhile.
#pragma once
#include <cstdint>
class CxImage {
public:
    explicit CxImage(unsigned type = 0) { (void)type; }
    virtual ~CxImage() {}
    bool CreateFromArray(unsigned char*, unsigned int, unsigned int, unsigned int, unsigned int, bool) { return false; }
    void SetXDPI(int) {}
    void SetYDPI(int) {}
    unsigned GetWidth() const { return 0; }
    unsigned GetHeight() const { return 0; }
    unsigned GetBpp() const { return 0; }
    unsigned GetEffWidth() const { return 0; }
    uint8_t* GetBits(unsigned = 0) { return nullptr; }
    bool IsValid() const { return false; }
    const char* GetLastError() { return ""; }
};
