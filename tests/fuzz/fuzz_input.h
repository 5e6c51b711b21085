// The whole-filter fuzz input: the job's options on the first line, then the
// PPD text, then a marker line and the raster stream. The marker is a PPD
// comment, so an input that lost it is still a PPD (with no raster).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

constexpr char kFuzzRasterMarker[] = "\n*%dotforge-raster\n";

struct FuzzJob {
    std::string options;
    std::string ppd;
    const uint8_t* raster = nullptr;
    size_t rasterSize = 0;
};

inline FuzzJob SplitFuzzInput(const uint8_t* data, size_t size) {
    FuzzJob job;
    const char* text = reinterpret_cast<const char*>(data);
    const char* nl = static_cast<const char*>(memchr(text, '\n', size));
    const size_t opt = nl ? static_cast<size_t>(nl - text) : size;
    job.options.assign(text, opt);
    const size_t ppdAt = nl ? opt + 1 : size;
    const std::string rest(text + ppdAt, size - ppdAt);
    const size_t m = rest.find(kFuzzRasterMarker);
    job.ppd = rest.substr(0, m);
    if (m != std::string::npos) {
        const size_t r = ppdAt + m + sizeof(kFuzzRasterMarker) - 1;
        job.raster = data + r;
        job.rasterSize = size - r;
    }
    return job;
}

inline std::vector<unsigned char> FilterInput(const std::string& options, const std::string& ppd,
                                              const std::vector<unsigned char>& raster) {
    const std::string head = options + "\n" + ppd + kFuzzRasterMarker;
    std::vector<unsigned char> all(head.begin(), head.end());
    all.insert(all.end(), raster.begin(), raster.end());
    return all;
}
