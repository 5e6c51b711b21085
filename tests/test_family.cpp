// A family of the test build only, made as the README's recipe says: its
// renderer, descriptor and decoder are all that the factory, the PPD source,
// the app's drivers, settings, words and usage text, the option rules and
// the preview (names, detection, decoding) need. The test build cannot add
// a line to DF_FAMILY_LIST, so it registers the descriptor and its decoder
// at run time, as that line's two expansions do at build time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "app/core/ippsettings.h"
#include "app/core/models.h"
#include "app/web/webui.h"
#include "helpers/pages.h"
#include "printers/factory.h"
#include "ppd/ppdsource.h"
#include "render/optionrules.h"
#include "tools/preview/decode_internal.h"

namespace {

// "width rows feed", a line end, the stored rows (1 = black).
class CPrinterFake : public CBaseRender {
public:
    void OnPaintBmp() override {
        Negative();
        CMyBuffer b;
        b.AddStringA((std::to_string(m_image.GetWidth()) + " " + std::to_string(m_image.GetHeight()) + " " +
                      std::to_string(m_reg.iFeedOffset) + "\n")
                         .c_str());
        b.AddBuffer(m_image.GetBits(0), static_cast<int>(m_image.GetEffWidth() * m_image.GetHeight()));
        SpoolCommands(b);
    }
};

DfFamily Make() {
    DfFamily f;
    f.modelNumber = 99;
    f.name = f.comment = "Fake";
    f.create = []() -> std::unique_ptr<CBaseRender> { return std::make_unique<CPrinterFake>(); };
    f.options = {{"FeedOffset",
                  "Feed",
                  kDfPrinterSettings,
                  20,
                  "10",
                  {{"0", "None"}, {"10", "10 mm"}, {"50", "50 mm"}},
                  "dotforge-fake-feed",
                  true,
                  "Fake feed"},
                 {"FakeLevel",
                  "Level",
                  kDfPrinterSettings,
                  21,
                  "Default",
                  {{"Default", "Printer default"}, {"1", "1"}, {"9", "9"}},
                  nullptr,
                  true}};
    f.drivers = {{"fake-203",
                  "Fake",
                  "Fake",
                  "Fake",
                  203,
                  64,
                  DfMiniRollMedia(),
                  kDfMiniRollDefault,
                  {"10mm", "10mm"},
                  {"48mm", "100mm"}}};
    return f;
}
const DfFamily kFake = Make();

// Its streams start with the page's width: a digit no other family's
// stream starts with.
bool IsFake(const uint8_t* data, size_t len) {
    return len && data[0] >= '1' && data[0] <= '9';
}

bool DecodeFake(DecodeContext& ctx) {
    PreviewPage page;
    const std::string text(reinterpret_cast<const char*>(ctx.data), ctx.len);
    const size_t skip = text.find('\n') + 1;
    if (!skip || sscanf(text.c_str(), "%d %d", &page.width, &page.height) != 2 || page.width <= 0 ||
        page.height <= 0)
        return ctx.Fail(0, "no header");
    page.rowBytes = (page.width + 7) / 8;
    const size_t eff = (page.width + 31) / 32 * 4;
    if (!ctx.Need(skip, eff * page.height, "rows")) return false;
    page.bits.assign(page.rowBytes * page.height, 0);
    PageBlit(&page, 0, 0, ctx.data + skip, eff, page.height, false, BlitOp::Overwrite);
    ctx.AddPage(std::move(page), ctx.len);
    return true;
}

TEST(Family, RendererDescriptorAndDecoderAreAllItTakes) {
    ASSERT_TRUE(DfRegisterFamily(&kFake) && RegisterPreviewDecoder(kFake, {IsFake, DecodeFake}));
    EXPECT_NE(DfPpdSource().find(
                  "PCFileName \"dotforge-fake-203.ppd\"\n      Attribute \"dotforgeHeadDots\" \"\" \"64\""),
              std::string::npos);
    const DfAppModel* model = DfAppFindModel("fake-203");
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(
        model->mediaDefault + " " + model->media.back() + " " + DfAppDefaultChoice(*model, "FeedOffset"),
        "om_roll-58-100_48x100mm custom_max_48x100mm 10");
    EXPECT_NE(std::string(DfAppEnglishStrings()).find("\"dotforge-fake-feed\" = \"Fake feed\";\n"),
              std::string::npos);

    // A job through the app's settings (a whole number in range is taken, as
    // the filter takes it), printed and read back by the preview.
    pappl_pr_options_t options{};
    cups_option_t vendor = {const_cast<char*>("dotforge-fake-feed"), const_cast<char*>("25")};
    options.num_vendor = 1;
    options.vendor = &vendor;
    DfIppSettings settings(*model, options, 0, nullptr);
    const std::unique_ptr<CBaseRender> made = DfCreateRender(99);
    EXPECT_NE(dynamic_cast<CPrinterFake*>(made.get()), nullptr);
    Captured<CPrinterFake> r;
    r.SetSettings(&settings);
    r.GetPrinterParameters();
    FillPreparedPage(r.m_image, 40, 3, 7);
    const ByteVec rows = InvertedRows(r.m_image, 5);
    r.OnPaintBmp();
    PreviewResult res;
    ASSERT_TRUE(DecodePrinterStream(r.out.data(), r.out.size(), PreviewFamily::Unknown, &res)) << res.error;
    EXPECT_EQ(res.family, PreviewFamilyOf(kFake));
    ASSERT_EQ(res.pages.size(), 1u);
    EXPECT_TRUE(SameBytes(rows, ByteVec(res.pages[0].bits.begin(), res.pages[0].bits.end())));
    EXPECT_EQ(std::string(r.out.begin(), r.out.begin() + 8), "40 3 25\n");
}

// What lists families, models or options names the fake one too: the
// preview's names and usage, the app's usage, the option rules.
TEST(Family, ListsAndUsageTextsNameANewFamily) {
    ASSERT_TRUE(DfFindFamily(99) || DfRegisterFamily(&kFake));
    if (!FindPreviewDecoder(PreviewFamilyOf(kFake))) RegisterPreviewDecoder(kFake, {IsFake, DecodeFake});
    EXPECT_NE(PreviewModelNames().find(", 99 (fake)"), std::string::npos) << PreviewModelNames();
    for (const char* name : {"99", "fake", "Fake", "fake-203"})
        EXPECT_EQ(ParseFamily(name), PreviewFamilyOf(kFake));
    EXPECT_EQ(ParseHeadDots("fake"), 64);
    EXPECT_EQ(PreviewFamilies().back(), &kFake);
    const std::string drivers = DfAppDriversText();
    // The last driver, then the closing words (on the same line or the next).
    const size_t fake = drivers.find(" fake-203");
    EXPECT_NE(fake, std::string::npos) << drivers;
    const size_t words = drivers.find("(dotforge-app drivers).", fake);
    ASSERT_NE(words, std::string::npos) << drivers;
    EXPECT_EQ(drivers.find_first_not_of(" \n", fake + 9), words) << drivers;
    for (size_t at = 0, end; at < drivers.size(); at = end + 1) {
        end = std::min(drivers.find('\n', at), drivers.size());
        EXPECT_LE(end - at, 78u) << drivers;
    }
    const std::vector<std::string>& keywords = DfOptionKeywords();
    EXPECT_NE(std::find(keywords.begin(), keywords.end(), "FakeLevel"), keywords.end());
    EXPECT_EQ(std::count(keywords.begin(), keywords.end(), "FeedOffset"), 1);
    std::string choice;
    EXPECT_TRUE(DfIsNumericOption("FakeLevel") &&
                DfAcceptValue("FakeLevel", {"Default", "1", "9"}, "5", choice));
    EXPECT_EQ(choice, "5");
    EXPECT_FALSE(DfIsNumericOption("ImageFilter") || DfIsNumericOption("PrinterStatus"));
}

}  // namespace
