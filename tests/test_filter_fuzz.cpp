// Robustness of the built filter on malformed raster streams: valid streams
// from libcups's writer, mutated by fixed seeds (interesting header values,
// consistent and inconsistent size fields, odd resolutions, truncation, byte
// flips), run for every command family with varied job options. Each run must
// end by itself, quickly, with status 0 or 1, without a sanitizer report, and
// with printer bytes that start (and end) the way the family's stream does.
#include <gtest/gtest.h>

#include <cups/raster.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/raster.h"
#include "helpers/runfilter.h"

namespace {

// First and last bytes of every non-empty stream of a family, with the
// fixture's defaults for the options that are not varied (MoneyBox,
// BeginPrintSound, EndPrintSound pick the first and last commands).
struct Family {
    const char* ppd;
    ByteVec head, tail;
};
const Family kFamilies[] = {
    {"tspl.ppd", Bytes("SIZE "), Bytes("PRINT 1,1\r\n")},
    {"escpos.ppd", {0x1B, 0x40, 0x00, 0x1B, 0x61, 0x01}, {}},
    {"cpcl.ppd", Bytes("! "), Bytes("PRINT\r\n")},
    {"paperang.ppd", {0xA5, 0x01, 0x05, 0x00, 0x05, 0x19, 0x03, 0x00, 0x00}, {0x5A}},
    {"peripage.ppd", {0x1F, 0x1B, 0x1F, 0x56, 0x08, 0x09, 0xA0, 0x22}, {0x10, 0xFF, 0xFE, 0x45}},
};
const char* const kFixedKeys[] = {"MoneyBox", "BeginPrintSound", "EndPrintSound", "PageSize", "PageRegion"};

// Image options the family fixtures leave out, with sane and absurd choices.
struct ExtraOption {
    const char* key;
    std::vector<const char*> choices;  // the first is the default
};
const ExtraOption kExtra[] = {
    {"Rotate", {"0", "1", "2", "3", "4", "-1"}},
    {"ImageFilter", {"2", "0", "1", "3", "4", "5", "6", "7", "8", "9", "10", "11", "-1"}},
    {"Threshold", {"128", "0", "1", "255", "256", "-1"}},
    {"Brightness", {"0", "-100", "100", "-255", "255", "100000", "-2147483648"}},
    {"Contrast", {"0", "-100", "100", "100000", "-100000"}},
    {"AdjustHoriaontal", {"0", "-3", "3", "999999999", "-999999999", "268435456"}},
    {"AdjustVertical", {"0", "-3", "3", "999999999", "-999999999", "268435456"}},
    {"CropEdgeTop", {"0", "-1", "2", "9999", "2147483647"}},
    {"CropEdgeBottom", {"0", "-1", "2", "9999", "2147483647"}},
    {"CropEdgeLeft", {"0", "-1", "2", "9999", "2147483647"}},
    {"CropEdgeRight", {"0", "-1", "2", "9999", "2147483647"}},
    {"ImageCompress", {"0", "1"}},
    {"AutoDotted", {"0", "1"}},
};

// The family fixture plus the options above, written to a scratch file that
// is kept when a case fails, so that it can be run again by hand. Returns the
// job options that may be varied ("Key=Choice").
std::vector<std::string> FuzzPpd(const Family& f, const std::string& path) {
    std::ifstream in(TestPpd(f.ppd));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const ExtraOption& o : kExtra) {
        const std::string k = o.key;
        if (text.find("*OpenUI *" + k + "/") != std::string::npos) continue;
        text += "*OpenUI *" + k + "/" + k + ": PickOne\n*OrderDependency: 10 AnySetup *" + k + "\n*Default" +
                k + ": " + o.choices[0] + "\n";
        for (const char* c : o.choices) text += "*" + k + " " + c + "/" + c + ": \"\"\n";
        text += "*CloseUI: *" + k + "\n";
    }
    std::ofstream(path) << text;

    std::vector<std::string> options;
    std::smatch m;
    for (auto it = text.cbegin(); std::regex_search(it, text.cend(), m, std::regex("\\*OpenUI \\*(\\w+)"));
         it = m.suffix().first) {
        const std::string k = m[1];
        if (std::find(std::begin(kFixedKeys), std::end(kFixedKeys), k) != std::end(kFixedKeys)) continue;
        const std::regex choice("\\n\\*" + k + " ([^/:\\n]+)[/:]");
        for (std::sregex_iterator c(text.begin(), text.end(), choice), e; c != e; ++c)
            options.push_back(k + "=" + (*c)[1].str());
    }
    return options;
}

// Deterministic generator (xorshift64*), the same on every platform.
struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next() {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return static_cast<uint32_t>((s * 0x2545F4914F6CDD1Dull) >> 32);
    }
    uint32_t Below(uint32_t n) { return n ? Next() % n : 0; }
    template <class T>
    T Pick(const std::vector<T>& v) {
        return v[Below(static_cast<uint32_t>(v.size()))];
    }
};

TestPage RandomPage(Rng& r) {
    TestPage p = MakePage(1 + r.Below(70), 1 + r.Below(24), r.Pick<unsigned>({1, 8, 24, 32}), 0xFF,
                          r.Pick<int>({203, 203, 300, 100}));
    const unsigned pattern = r.Below(4), bpl = p.BytesPerLine();
    for (size_t i = 0; i < p.data.size(); i++) {
        const unsigned x = static_cast<unsigned>(i % bpl), y = static_cast<unsigned>(i / bpl);
        if (pattern == 0) p.data[i] = static_cast<unsigned char>(r.Next());
        if (pattern == 1) p.data[i] = 0x00;
        if (pattern == 2) p.data[i] = (y > p.height / 3 && x > bpl / 3 && x < bpl - bpl / 4) ? 0x00 : 0xFF;
        if (pattern == 3) p.data[i] = static_cast<unsigned char>(x * 255 / bpl);
    }
    return p;
}

// The stream libcups writes for the pages, and where each page header begins.
ByteVec WriteStream(const std::vector<TestPage>& pages, cups_mode_t mode, std::vector<size_t>& headers) {
    ByteVec s = RasterBytes(pages, mode);
    size_t from = 0;
    for (const TestPage& p : pages) {
        cups_page_header2_t h;
        FillHeader(p, &h);
        const auto* hb = reinterpret_cast<const unsigned char*>(&h);
        auto at = std::search(s.begin() + static_cast<long>(from), s.end(), hb, hb + sizeof(h));
        if (at == s.end()) break;
        headers.push_back(static_cast<size_t>(at - s.begin()));
        from = headers.back() + sizeof(h);
    }
    return s;
}

void Put32(ByteVec& s, size_t at, uint32_t v) {
    if (at + 4 <= s.size()) memcpy(&s[at], &v, 4);
}
uint32_t Get32(const ByteVec& s, size_t at) {
    uint32_t v = 0;
    if (at + 4 <= s.size()) memcpy(&v, &s[at], 4);
    return v;
}

#define FIELD(f) \
    { #f, offsetof(cups_page_header2_t, f) }
struct Field {
    const char* name;
    size_t off;
};
const Field kFields[] = {
    FIELD(cupsWidth),        FIELD(cupsHeight),      FIELD(cupsBitsPerPixel), FIELD(cupsBitsPerColor),
    FIELD(cupsBytesPerLine), FIELD(cupsColorOrder),  FIELD(cupsColorSpace),   FIELD(cupsCompression),
    FIELD(cupsNumColors),    FIELD(HWResolution[0]), FIELD(HWResolution[1]),  FIELD(PageSize[0]),
    FIELD(NumCopies),        FIELD(Orientation),     FIELD(cupsMediaType),    FIELD(Margins[0]),
    FIELD(Duplex),
};
const std::vector<uint32_t> kValues = {
    0,          1,          2,          3,          7,         8,          9,          15,
    16,         17,         24,         31,         32,        33,         48,         64,
    240,        241,        255,        256,        383,       384,        385,        4095,
    0x7FFF,     0x8000,     0xFFFF,     0x10000,    46341,     0x08000001, 0x20000001, 0x40000001,
    0x7FFFFFFF, 0x80000000, 0xFFFFFF35, 0xFFFFFFFE, 0xFFFFFFFF};

// What libcups's reader makes of the stream; false when it holds a page that
// the filter would accept and that is too big to prepare quickly under the
// sanitizers (the filter refuses pages above 256 MiB of pixels itself).
bool Usable(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    cups_page_header2_t h;
    bool usable = true;
    ByteVec chunk(65536);
    while (usable && ras && cupsRasterReadHeader2(ras, &h)) {
        const unsigned bpp = h.cupsBitsPerPixel, depth = bpp <= 1 ? 1 : bpp <= 4 ? 4 : bpp <= 8 ? 8 : 24;
        const double pixels = static_cast<double>(h.cupsWidth) * h.cupsHeight;
        uint64_t left = static_cast<uint64_t>(h.cupsBytesPerLine) * h.cupsHeight;
        const bool refused = static_cast<int32_t>(h.HWResolution[0]) <= 0 || pixels * depth / 8 > 268435456.0 || left > 0x7FFFFFFFu;
        if (!refused && (left > (4u << 20) || pixels > (2u << 20))) usable = false;
        while (left > 0) {
            const unsigned n = static_cast<unsigned>(std::min<uint64_t>(left, chunk.size()));
            if (cupsRasterReadPixels(ras, chunk.data(), n) == 0) break;
            left -= n;
        }
    }
    cupsRasterClose(ras);
    close(fd);
    return usable;
}

struct Case {
    std::string desc;
    ByteVec stream;
    bool headersFound = false;  // every page header was located in the written stream
};

// One mutated stream; kind 0 = odd shapes and resolutions written by libcups,
// 1 = one header field set to an interesting value, 2 = size fields changed
// consistently, 3 = truncation, 4 = byte flips.
Case MakeCase(uint64_t seed, unsigned kind, cups_mode_t mode) {
    Rng r(seed);
    Case c;
    char buf[160] = "";
    std::vector<TestPage> pages;
    const unsigned n = 1 + r.Below(3);
    for (unsigned i = 0; i < n; i++) pages.push_back(RandomPage(r));
    const unsigned target = r.Below(n);
    if (kind == 0) {
        TestPage& p = pages[target];
        const int dpis[] = {0, 1, 72, 203, 2400, 1000000, 0x7FFFFFFF, -1, -203, INT32_MIN};
        p = MakePage(r.Pick<unsigned>({1, 2, 7, 8, 9, 31, 32, 33, 383, 384, 385, 1000}),
                     r.Pick<unsigned>({1, 2, 3, 100}), r.Pick<unsigned>({1, 2, 4, 8, 16, 24, 32}),
                     static_cast<unsigned char>(r.Next()));
        for (unsigned char& b : p.data) b = static_cast<unsigned char>(b ^ (r.Below(4) ? 0 : r.Next()));
        p.xdpi = dpis[r.Below(10)];
        p.ydpi = r.Below(2) ? p.xdpi : dpis[r.Below(10)];
        snprintf(buf, sizeof(buf), "page %u: %ux%u, %u bpp, %d x %d dpi", target + 1, p.width, p.height,
                 p.bitsPerPixel, p.xdpi, p.ydpi);
    }
    std::vector<size_t> headers;
    c.stream = WriteStream(pages, mode, headers);
    c.headersFound = headers.size() == pages.size();
    const size_t hdr = target < headers.size() ? headers[target] : 4;
#define AT(f) (hdr + offsetof(cups_page_header2_t, f))
    if (kind == 1) {
        const Field& f = kFields[r.Below(sizeof(kFields) / sizeof(kFields[0]))];
        const uint32_t v = r.Pick(kValues);
        Put32(c.stream, hdr + f.off, v);
        snprintf(buf, sizeof(buf), "page %u: %s = %u", target + 1, f.name, v);
    } else if (kind == 2) {
        uint32_t w = Get32(c.stream, AT(cupsWidth)), h = Get32(c.stream, AT(cupsHeight));
        uint32_t bpp = Get32(c.stream, AT(cupsBitsPerPixel));
        const unsigned what = r.Below(4);
        if (what == 0 || what == 3) w = r.Pick(kValues);
        if (what == 1 || what == 3) h = r.Pick(kValues);
        if (what == 2) {
            bpp = r.Pick<uint32_t>({0, 1, 2, 4, 8, 16, 24, 32, 48, 64, 96, 240, 241, 255});
            Put32(c.stream, AT(cupsBitsPerColor), bpp == 24 || bpp == 32 ? 8 : std::min(bpp, 16u));
            Put32(c.stream, AT(cupsNumColors), bpp == 24 ? 3 : bpp == 32 ? 4 : 1);
        }
        const uint32_t bpl = (w * bpp + 7) / 8;  // 32-bit, as libcups checks it
        Put32(c.stream, AT(cupsWidth), w);
        Put32(c.stream, AT(cupsHeight), h);
        Put32(c.stream, AT(cupsBitsPerPixel), bpp);
        Put32(c.stream, AT(cupsBytesPerLine), bpl);
        snprintf(buf, sizeof(buf), "page %u: %ux%u, %u bpp, %u bytes per line", target + 1, w, h, bpp, bpl);
    } else if (kind == 3) {
        const size_t len = c.stream.size();
        const size_t cuts[] = {r.Below(static_cast<uint32_t>(len)),
                               hdr + r.Below(sizeof(cups_page_header2_t)),
                               hdr + sizeof(cups_page_header2_t) + r.Below(8), len - 1 - r.Below(16)};
        const size_t cut = std::min(len, cuts[r.Below(4)]);
        c.stream.resize(cut);
        snprintf(buf, sizeof(buf), "truncated to %zu of %zu bytes", cut, len);
    } else if (kind == 4) {
        std::string at_list;
        const unsigned flips = 1 + r.Below(8);
        for (unsigned i = 0; i < flips && !c.stream.empty(); i++) {
            // Half of the flips land in the target page's header.
            const size_t pos = r.Below(2) ? hdr + r.Below(sizeof(cups_page_header2_t))
                                          : r.Below(static_cast<uint32_t>(c.stream.size()));
            if (pos >= c.stream.size()) continue;
            const unsigned op = r.Below(3);
            c.stream[pos] = op == 0   ? 0x00
                            : op == 1 ? 0xFF
                                      : static_cast<unsigned char>(c.stream[pos] ^ (1 + r.Below(255)));
            at_list += " " + std::to_string(pos);
        }
        snprintf(buf, sizeof(buf), "%u flips at%s", flips, at_list.substr(0, 100).c_str());
    }
#undef AT
    c.desc = std::string(mode == CUPS_RASTER_WRITE ? "raw" : "compressed") + " stream, " + std::to_string(n) +
             " page(s), " + buf;
    return c;
}

// Sanitizer reports get their own exit status, apart from the filter's 1.
// A filter that spins is stopped by a CPU limit that the child inherits; it
// sits 25 s above this process's own use, which therefore never reaches it.
FilterRun RunGuarded(const FilterArgs& a) {
    setenv("ASAN_OPTIONS", "exitcode=99:detect_leaks=1", 1);
    setenv("UBSAN_OPTIONS", "halt_on_error=1:exitcode=98:print_stacktrace=1", 1);
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    struct rlimit lim;
    getrlimit(RLIMIT_CPU, &lim);
    const rlim_t soft = static_cast<rlim_t>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 25;
    if (lim.rlim_max == RLIM_INFINITY || soft < lim.rlim_max) lim.rlim_cur = soft;
    setrlimit(RLIMIT_CPU, &lim);
    return RunFilter(a);
}

bool Has(const std::string& text, const char* what) {
    return text.find(what) != std::string::npos;
}

void Save(const std::string& path, const ByteVec& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Runs one case; on a problem, keeps the raster beside the other scratch
// files and reports how to run it again. Returns the run's wall time.
long long RunCase(const Family& fam, const std::string& ppd, const std::string& opts, const ByteVec& stream,
                  bool fromFile, const std::string& desc, int* failures) {
    const std::string file = TempPath("fuzz-case") + ".ras";
    Save(file, stream);
    FilterArgs a;
    a.ppd = ppd;
    a.options = opts;
    if (fromFile)
        a.rasterFile = file;
    else
        a.stdinBytes = stream;
    const auto t0 = std::chrono::steady_clock::now();
    FilterRun run = RunGuarded(a);
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();

    std::string why;
    if (ms >= 20000) why += " took " + std::to_string(ms) + " ms;";
    if (run.status != 0 && run.status != 1) why += " exit status " + std::to_string(run.status) + ";";
    for (const char* s : {"AddressSanitizer", "runtime error", "LeakSanitizer"})
        if (Has(run.err, s)) why += std::string(" stderr has ") + s + ";";
    if (run.status == 0 && !Has(run.err, "PAGE: ")) why += " status 0 without a PAGE line;";
    if (run.status == 1 && !Has(run.err, "ERROR: ")) why += " status 1 without an ERROR line;";
    const ByteVec& out = run.out;
    if (!out.empty() &&
        (out.size() < fam.head.size() || !std::equal(fam.head.begin(), fam.head.end(), out.begin())))
        why += " printer bytes start wrong;";
    // A job whose pages all failed may leave just the family's job start.
    if (!out.empty() && out != fam.head &&
        (out.size() < fam.tail.size() ||
         !std::equal(fam.tail.begin(), fam.tail.end(), out.end() - fam.tail.size())))
        why += " printer bytes end wrong;";
    if (why.empty()) {
        unlink(file.c_str());
        return ms;
    }
    ++*failures;
    ADD_FAILURE() << desc << "\n  problem:" << why << "\n  reproduce: PPD=" << ppd << " " << DF_FILTER_PATH
                  << " 1 user title 1 '" << opts << "' " << file << "\n  stderr:\n"
                  << run.err.substr(0, 4000);
    return ms;
}

TEST(FilterFuzz, MalformedRastersNeverCrashOrHang) {
    const std::string scratch = TempPath("fuzz");
    std::vector<std::vector<std::string>> options;
    for (size_t f = 0; f < 5; f++)
        options.push_back(FuzzPpd(kFamilies[f], scratch + "-" + std::to_string(f) + ".ppd"));
    const std::string probe = scratch + ".ras";

    // DF_FUZZ_CASES runs a longer search by hand; the default stays fixed.
    const unsigned kCases =
        getenv("DF_FUZZ_CASES") ? static_cast<unsigned>(atoi(getenv("DF_FUZZ_CASES"))) : 300;
    int failures = 0;
    long long slowest = 0;
    for (unsigned i = 0; i < kCases && failures < 10; i++) {
        const size_t f = i % 5;
        const unsigned kind = (i / 5) % 5;
        const cups_mode_t mode = (i / 25) % 2 ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE;
        Case c;
        uint64_t seed = i;
        bool usable = false;
        for (unsigned attempt = 0; !usable && attempt < 20; attempt++) {
            seed = i + 1000ull * attempt;
            c = MakeCase(seed, kind, mode);
            Save(probe, c.stream);
            usable = Usable(probe);
        }
        ASSERT_TRUE(c.headersFound) << "seed " << seed << ": page headers not found in the written stream";
        ASSERT_TRUE(usable) << "case " << i << ": every mutation was too big to run";

        // Up to four job options with distinct keywords.
        Rng r(seed ^ 0x5EED);
        std::string opts;
        for (unsigned k = r.Below(5); k > 0; k--) {
            const std::string o = r.Pick(options[f]);
            if (!Has(" " + opts, (" " + o.substr(0, o.find('=') + 1)).c_str()))
                opts += (opts.empty() ? "" : " ") + o;
        }
        const std::string desc = "case " + std::to_string(i) + " (seed " + std::to_string(seed) + ", " +
                                 kFamilies[f].ppd + "): " + c.desc;
        slowest = std::max(slowest, RunCase(kFamilies[f], scratch + "-" + std::to_string(f) + ".ppd", opts,
                                            c.stream, i % 2, desc, &failures));
    }
    unlink(probe.c_str());
    if (!failures)
        for (size_t f = 0; f < 5; f++) unlink((scratch + "-" + std::to_string(f) + ".ppd").c_str());
    printf("[ fuzz     ] %u cases, slowest run %lld ms\n", kCases, slowest);
}

// Resolutions from none to absurd, each family, with and without the options
// that turn millimetres into dots (crop limits, shifts).
TEST(FilterFuzz, OddResolutions) {
    const std::string scratch = TempPath("fuzz-dpi");
    const uint32_t dpis[][2] = {
        {0, 203}, {1, 1}, {203, 0}, {203, 0xFFFFFFFF}, {72, 2400}, {1000000, 203}, {0x7FFFFFFF, 0x7FFFFFFF}};
    int failures = 0;
    for (size_t f = 0; f < 5; f++) {
        const std::string ppd = scratch + "-" + std::to_string(f) + ".ppd";
        FuzzPpd(kFamilies[f], ppd);
        for (const auto& d : dpis) {
            TestPage p = MakePage(45, 12, f % 2 ? 8 : 1, 0x00);
            for (size_t i = 0; i < p.data.size(); i += 3) p.data[i] = 0xFF;
            p.xdpi = static_cast<int>(d[0]);
            p.ydpi = static_cast<int>(d[1]);
            for (const char* opts :
                 {"", "CropEdgeTop=9999 CropEdgeLeft=2 AdjustHoriaontal=3 AdjustVertical=-3"}) {
                const std::string desc = std::string(kFamilies[f].ppd) + ", " + std::to_string(d[0]) + " x " +
                                         std::to_string(d[1]) + " dpi";
                RunCase(kFamilies[f], ppd, opts, RasterBytes({p, MakePage(8, 2, 8, 0x40)}), false, desc,
                        &failures);
            }
        }
        if (!failures) unlink(ppd.c_str());
    }
}

// Header fields of enum type that the driver logs for every page, with the
// largest value their enum type can hold; the stream may carry any value.
const Field kEnumFields[] = {FIELD(Duplex), FIELD(ManualFeed), FIELD(Orientation), FIELD(cupsColorOrder),
                             FIELD(cupsColorSpace)};
const uint32_t kEnumMax[] = {1, 1, 3, 3, 63};


// A page header whose enum fields hold values beyond their enum types: the
// page must print like any other, without undefined behaviour in the
// driver's header dump.
TEST(FilterFuzz, HeaderEnumsOutOfRange) {
    for (size_t k = 0; k < 5; k++) {
        for (uint32_t v : {kEnumMax[k] + 1, 0xFFFFFFFEu}) {
            std::vector<size_t> headers;
            ByteVec s = WriteStream({MakePage(16, 4, 8, 0x80)}, CUPS_RASTER_WRITE, headers);
            ASSERT_EQ(headers.size(), 1u);
            Put32(s, headers[0] + kEnumFields[k].off, v);
            FilterArgs a;
            a.ppd = TestPpd("tspl.ppd");
            a.stdinBytes = s;
            FilterRun run = RunGuarded(a);
            EXPECT_EQ(run.status, 0) << kEnumFields[k].name << " = " << v;
            EXPECT_FALSE(Has(run.err, "runtime error")) << kEnumFields[k].name << " = " << v << "\n"
                                                        << run.err;
        }
    }
}

// A horizontal resolution that the renderers would see as negative is
// refused like 0, for every family; without it a TSPL label goes out
// without its SIZE line.
TEST(FilterFuzz, NegativeResolutionIsRefused) {
    for (const Family& fam : kFamilies) {
        for (int dpi : {-1, -203, INT32_MIN}) {
            TestPage p = MakePage(16, 4, 8, 0x00, dpi);
            FilterArgs a;
            a.ppd = TestPpd(fam.ppd);
            a.stdinBytes = RasterBytes({p});
            FilterRun run = RunGuarded(a);
            EXPECT_TRUE(Has(run.err, "ERROR: Page 1 skipped: its horizontal resolution is not positive"))
                << fam.ppd << ", " << dpi << " dpi\n"
                << run.err;
            EXPECT_TRUE(run.out.empty() || run.out == fam.head) << fam.ppd << ", " << dpi << " dpi";
        }
    }
}

}  // namespace
