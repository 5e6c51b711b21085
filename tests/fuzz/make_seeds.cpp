// Writes the seed corpora of the fuzz targets into tests/fuzz/corpus from
// the test helpers: printer streams from the renderers, raster streams from
// libcups's writer, the test PPDs with job options. Run by hand after a
// change of the formats (build-asan/tests/fuzz/fuzz_make_seeds), then commit.
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "helpers/pages.h"
#include "helpers/raster.h"
#include "helpers/runfilter.h"
#include "printers/catprinter.h"
#include "printers/cpcl.h"
#include "printers/escpos.h"
#include "printers/niimbot.h"
#include "printers/paperang.h"
#include "printers/peripage.h"
#include "printers/tspl.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

const std::string kCorpus = std::string(DF_FUZZ_SOURCE_DIR) + "/corpus/";

void Put(const std::string& target, const std::string& name, const ByteVec& bytes) {
    mkdir(kCorpus.c_str(), 0755);
    mkdir((kCorpus + target).c_str(), 0755);
    std::ofstream(kCorpus + target + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A two-page job (w x h dots each) through a renderer set up by setup.
template <class R>
ByteVec Job(int w, int h, const std::function<void(R&)>& setup = nullptr) {
    Captured<R> r;
    r.m_iDpi = 203;
    if (setup) setup(r);
    r.OnStartDoc(0);
    for (unsigned seed = 1; seed <= 2; ++seed) {
        FillPreparedPage(r.m_image, static_cast<unsigned>(w), static_cast<unsigned>(h), seed,
                         [](unsigned y) { return y % 5 == 4; });
        r.OnPaintBmp();
        r.OnEndPage();
    }
    r.OnEndDoc();
    return r.All();
}

void PreviewSeeds() {
    Put("preview_tspl", "plain", Job<CPrinterTSPL>(40, 12));
    Put("preview_tspl", "compressed", Job<CPrinterTSPL>(64, 9, [](CPrinterTSPL& r) {
            r.m_halftone.ImageCompress = true;
            r.m_reg.iMediaType = DfMediaTracking::BLine;
            r.m_reg.iDensity = 9;
            r.m_reg.iSpeed = 4;
        }));
    Put("preview_escpos", "plain", Job<CPrinterESCPOS>(48, 10));
    Put("preview_escpos", "drawer-feed", Job<CPrinterESCPOS>(30, 6, [](CPrinterESCPOS& r) {
            r.m_reg.iMoneyBox = DfMoneyBox::BeforePrint;
            r.m_reg.iFeedOffset = 3;
        }));
    Put("preview_cpcl", "plain", Job<CPrinterCPCL>(40, 8));
    Put("preview_cpcl", "gap",
        Job<CPrinterCPCL>(17, 5, [](CPrinterCPCL& r) { r.m_reg.iMediaType = DfMediaTracking::Gap; }));
    Put("preview_paperang", "plain", Job<CPrinterPaperang>(48, 6));
    Put("preview_paperang", "labels", Job<CPrinterPaperang>(384, 3, [](CPrinterPaperang& r) {
            r.m_reg.iMediaType = DfMediaTracking::Gap;
        }));
    Put("preview_peripage", "bands", Job<CPrinterPeriPage>(48, 7, [](CPrinterPeriPage& r) {
            r.m_reg.iImageMaxLength = 2;
            r.m_reg.BeginPrintSound = DfSound::EveryDoc;
            r.m_reg.EndPrintSound = DfSound::EveryPage;
            r.m_reg.iMediaType = DfMediaTracking::Recording;
        }));
    Put("preview_peripage", "compressed", Job<CPrinterPeriPage>(40, 9, [](CPrinterPeriPage& r) {
            r.m_halftone.ImageCompress = true;
            r.m_reg.iMoneyBox = DfMoneyBox::AfterPrint;
            r.m_reg.iMediaType = DfMediaTracking::Gap;
        }));
    Put("preview_niimbot", "plain", Job<CPrinterNiimbot>(96, 10));
    Put("preview_niimbot", "wide", Job<CPrinterNiimbot>(384, 6));
    Put("preview_cat", "plain", Job<CPrinterCat>(384, 8));
    Put("preview_cat", "compressed", Job<CPrinterCat>(384, 8, [](CPrinterCat& r) { r.m_compress = true; }));
}

void HfmSeeds() {
    // Byte 0: row width - 1, byte 1: chunk limit - 2, then the rows.
    CxImage img;
    FillPreparedPage(img, 384, 12, 7, [](unsigned y) { return y > 8; });
    ByteVec page = {47, 254};
    for (unsigned y = 0; y < 12; ++y) page.insert(page.end(), img.GetBits(y), img.GetBits(y) + 48);
    Put("hfm", "page", page);
    ByteVec tight = {3, 0};  // 4-byte rows, tiny chunks
    for (int i = 0; i < 64; ++i) tight.push_back(static_cast<unsigned char>(i * i % 7));
    Put("hfm", "tight-chunks", tight);
    ByteVec fib = {0, 254};  // skewed counts: deep trees, long codes
    unsigned a = 1, b = 1;
    for (int v = 0; v < 14; ++v) {
        fib.insert(fib.end(), a, static_cast<unsigned char>(v));
        const unsigned c = a + b;
        a = b;
        b = c;
    }
    Put("hfm", "deep-tree", fib);
    Put("hfm", "one-value", ByteVec(40, 0xFF));
}

struct PpdCase {
    const char* ppd;
    const char* options;
};
const PpdCase kPpds[] = {
    {"tspl.ppd", "Darkness=12 zeMediaTracking=BLine ImageCompress=1 Rotate=3"},
    {"escpos.ppd", "MoneyBox=AfterPrint FeedOffset=20 CropEdgeBottom=0"},
    {"cpcl.ppd", "zeMediaTracking=Gap AdjustHoriaontal=-2"},
    {"paperang.ppd", "CropEdgeTop=-1 zeMediaTracking=Continuous"},
    {"peripage.ppd", "BeginPrintSound=EveryDoc EndPrintSound=EveryPage ImageCompress=1 Darkness=3"},
    {"settings_all.ppd", "ImageFilter=0 Threshold=128 Brightness=-40 Contrast=60 zePrintRate=Default"},
    {"settings_none.ppd", ""},
};

void SettingsSeeds() {
    for (const PpdCase& c : kPpds) {
        const std::string text = std::string(c.options) + "\n" + ReadText(TestPpd(c.ppd));
        Put("settings", c.ppd, ByteVec(text.begin(), text.end()));
    }
}

void FilterSeeds() {
    struct {
        const char* name;
        const char* ppd;
        const char* options;
        std::vector<TestPage> pages;
        cups_mode_t mode;
    } cases[] = {
        {"tspl-grey",
         "tspl.ppd",
         "ImageCompress=1",
         {MakePage(40, 16, 8, 0x80), MakePage(24, 8, 8, 0x00)},
         CUPS_RASTER_WRITE},
        {"escpos-rgb",
         "escpos.ppd",
         "MoneyBox=BeforePrint",
         {MakePage(48, 10, 24, 0x40)},
         CUPS_RASTER_WRITE_COMPRESSED},
        {"cpcl-1bit", "cpcl.ppd", "Rotate=2", {MakePage(33, 9, 1, 0x5A)}, CUPS_RASTER_WRITE},
        {"paperang-grey", "paperang.ppd", "", {MakePage(64, 12, 8, 0x30)}, CUPS_RASTER_WRITE_PWG},
        {"peripage-rgba", "peripage.ppd", "ImageCompress=1", {MakePage(40, 6, 32, 0x20)}, CUPS_RASTER_WRITE},
    };
    for (auto& c : cases) {
        // A gradient with a white band, so the crop and the dithers have work.
        for (TestPage& p : c.pages)
            for (size_t i = 0; i < p.data.size(); ++i)
                if (i / p.BytesPerLine() % 4 != 3) p.data[i] = static_cast<unsigned char>(i * 37 + p.data[i]);
        Put("filter", c.name, FilterInput(c.options, ReadText(TestPpd(c.ppd)), RasterBytes(c.pages, c.mode)));
    }
}

}  // namespace

int main() {
    PreviewSeeds();
    HfmSeeds();
    SettingsSeeds();
    FilterSeeds();
    return 0;
}
