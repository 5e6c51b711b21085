// Fuzz target: the printer application's picture decoders. The input is a
// PNG or JPEG file (its first bytes decide which decoder, as the app's typing
// does) decoded for a 200 x 120 dot page and fitted to it; a decoded picture
// must have the pixels its size says, no more than the reduction allows, and
// the fitted page must be the page's size.
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/documents/picture.h"
#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return 0;
    const char* type = DfSniffFormat(data, size);
    const bool jpeg = type && std::string(type) == "image/jpeg";
    DfGreyImage picture;
    std::string error;
    const bool ok =
        jpeg ? DfDecodeJpeg(file, 200, 120, picture, error) : DfDecodePng(file, 200, 120, picture, error);
    fclose(file);
    if (!ok) {
        FUZZ_CHECK(!error.empty() && picture.pixels.empty());
        return 0;
    }
    FUZZ_CHECK(picture.width > 0 && picture.height > 0);
    FUZZ_CHECK(picture.pixels.size() == static_cast<size_t>(picture.width) * picture.height);
    FUZZ_CHECK(static_cast<unsigned long long>(picture.width) * picture.height <= kDfPictureMaxPixels);
    for (DfScaling s : {DfScaling::Fit, DfScaling::Fill, DfScaling::None}) {
        DfGreyImage page;
        FUZZ_CHECK(DfFitPicture(picture, 200, 120, s, page));
        FUZZ_CHECK(page.width == 200 && page.height == 120 && page.pixels.size() == 200u * 120u);
    }
    return 0;
}
