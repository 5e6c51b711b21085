// A family of the test build only, made as the README's recipe says: its
// renderer, descriptor and decoder are all that the factory, the PPD source,
// the app's drivers, settings and words, and the preview need.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/core/ippsettings.h"
#include "app/web/webui.h"
#include "helpers/pages.h"
#include "printers/factory.h"
#include "ppd/ppdsource.h"
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
                  "Fake feed"}};
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
    ASSERT_TRUE(DfRegisterFamily(&kFake) &&
                RegisterPreviewDecoder({99, "Fake", "fake", nullptr, DecodeFake}));
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
    ASSERT_TRUE(DecodePrinterStream(r.out.data(), r.out.size(), static_cast<PreviewFamily>(99), &res))
        << res.error;
    ASSERT_EQ(res.pages.size(), 1u);
    EXPECT_TRUE(SameBytes(rows, ByteVec(res.pages[0].bits.begin(), res.pages[0].bits.end())));
    EXPECT_EQ(std::string(r.out.begin(), r.out.begin() + 8), "40 3 25\n");
}

}  // namespace
