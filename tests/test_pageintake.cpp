// Page intake in process: the header dump, the image built from the page
// buffer, and the order of the renderer's page hooks.
#include <gtest/gtest.h>

#include <syslog.h>

#include <random>
#include <string>
#include <vector>

#include "filter/cupsinstance.h"
#include "helpers/images.h"
#include "helpers/logcapture.h"
#include "helpers/raster.h"
#include "render/pageintake.h"

namespace {

// Records every hook call; overrides nothing else, so the base preparation runs.
class Recorder : public CBaseRender {
public:
    explicit Recorder(std::vector<std::string>* calls) : m_calls(calls) {}
    void OnInit() override { m_calls->push_back("OnInit"); }
    void OnStartPage() override { m_calls->push_back("OnStartPage"); }
    void OnBeginBmp() override {
        m_calls->push_back("OnBeginBmp");
        CBaseRender::OnBeginBmp();
        if (failPreparation) m_pageError = "out of memory";
    }
    bool failPreparation = false;
    void OnPaintBmp() override {
        m_calls->push_back("OnPaintBmp " + std::to_string(m_image.GetWidth()) + "x" +
                           std::to_string(m_image.GetHeight()) + "x" + std::to_string(m_image.GetBpp()));
    }
    void OnEndBmp() override { m_calls->push_back("OnEndBmp"); }
    void OnEndPage() override { m_calls->push_back("OnEndPage"); }

private:
    std::vector<std::string>* m_calls;
};

struct Intake : ::testing::Test {
    std::vector<std::string> calls;
    Recorder* render = nullptr;
    CCupsInstance driver;
    struct NoChoices : DfSettingsSource {
        bool Choice(const char*, std::string&) override { return false; }
        bool Attribute(const char*, std::string&) override { return false; }
    } settings;

    void SetUp() override {
        auto owned = std::make_unique<Recorder>(&calls);
        render = owned.get();
        CCupsInstance::AdoptRender(std::move(owned));
        render->SetSettings(&settings);
    }
    void TearDown() override { render->SetSettings(nullptr); }

    void Feed(const TestPage& page, cups_page_header2_t* header) {
        FillHeader(page, header);
        CMyBuffer buffer;
        buffer.SetMaxBufferSize(0);
        buffer.AddBuffer(page.data.data(), static_cast<int>(page.data.size()));
        driver.StartPage(nullptr, header, buffer);
        driver.EndPage(nullptr, header);
    }
};

TEST_F(Intake, HeaderDumpAndHookOrder) {
    LogCapture log;
    cups_page_header2_t header;
    TestPage page = MakePage(20, 6, 1, 0xFF);
    page.ydpi = 406;
    Feed(page, &header);
    EXPECT_EQ(calls, (std::vector<std::string>{"OnStartPage", "OnBeginBmp", "OnInit", "OnPaintBmp 20x6x1", "OnEndBmp",
                                               "OnEndPage"}));
    std::vector<std::string> texts = log.Texts();
    ASSERT_GE(texts.size(), 19u);
    const char* firstLines[] = {"DEBUG: Duplex = 0\n", "DEBUG: HWResolution = [ 203 406 ]\n"};
    EXPECT_EQ(texts[0], firstLines[0]);
    EXPECT_EQ(texts[1], firstLines[1]);
    EXPECT_EQ(texts[9], "DEBUG: cupsWidth = 20\n");
    EXPECT_EQ(texts[17], "DEBUG: cupsCompression = 0\n");
    EXPECT_EQ(texts[18], "create image width=20, height=6, bitsPerPixel=1, bytesPerLine=3");
    EXPECT_EQ(render->m_iDpi, 203);
    EXPECT_EQ(render->m_header, &header);
}

TEST_F(Intake, UnsupportedDepthGetsOnlyEndPage) {
    for (unsigned bpp : {2u, 16u}) {
        calls.clear();
        LogCapture log;
        cups_page_header2_t header;
        Feed(MakePage(8, 2, bpp, 0xFF), &header);
        EXPECT_EQ(calls, std::vector<std::string>{"OnEndPage"});
        EXPECT_EQ(log.Count("DEBUG: "), 18);
        ASSERT_EQ(log.Lines().size(), 19u);
        EXPECT_EQ(log.Lines().back().text, "create image error\n");
        EXPECT_EQ(log.Lines().back().priority, LOG_ERR);
    }
    calls.clear();
    cups_page_header2_t header;
    Feed(MakePage(8, 2, 8, 0xFF), &header);
    EXPECT_EQ(calls.size(), 6u);
}

TEST_F(Intake, OnInitRunsOnce) {
    cups_page_header2_t header;
    Feed(MakePage(8, 2, 8, 0xFF), &header);
    Feed(MakePage(8, 2, 8, 0xFF), &header);
    int inits = 0;
    for (auto& c : calls) inits += c == "OnInit";
    EXPECT_EQ(inits, 1);
}

TEST_F(Intake, ShortBufferIsRefusedNotOverread) {
    LogCapture log;
    TestPage page = MakePage(64, 64, 8, 0xFF);
    cups_page_header2_t header;
    FillHeader(page, &header);
    CMyBuffer buffer;
    buffer.AddBuffer(page.data.data(), 100);  // far less than 64 lines
    driver.StartPage(nullptr, &header, buffer);
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(log.Contains("create image error\n"));
}

TEST_F(Intake, PageImageCarriesTheHeadersResolutions) {
    cups_page_header2_t header;
    TestPage page = MakePage(8, 2, 8, 0x80);
    page.xdpi = 203;
    page.ydpi = 406;
    FillHeader(page, &header);
    CMyBuffer buffer;
    buffer.AddBuffer(page.data.data(), static_cast<int>(page.data.size()));
    render->SetSettings(nullptr);  // skips preparation: the image stays as built
    testing::internal::CaptureStderr();
    driver.StartPage(nullptr, &header, buffer);
    // An unprepared page is 8 bits deep: it is refused, never painted.
    EXPECT_NE(testing::internal::GetCapturedStderr().find("could not be prepared: there are no printer settings"),
              std::string::npos);
    EXPECT_EQ(calls, (std::vector<std::string>{"OnStartPage", "OnBeginBmp", "OnEndBmp"}));
    EXPECT_EQ(render->m_image.GetXDPI(), 203);
    EXPECT_EQ(render->m_image.GetYDPI(), 406);
    EXPECT_EQ(render->m_image.GetBpp(), 8u);
    EXPECT_EQ(render->m_image.GetBits(0)[0], 0x80);
}

TEST_F(Intake, PageThatCouldNotBePreparedIsNotPainted) {
    render->failPreparation = true;
    cups_page_header2_t header;
    testing::internal::CaptureStderr();
    Feed(MakePage(8, 2, 8, 0xFF), &header);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(calls, (std::vector<std::string>{"OnStartPage", "OnBeginBmp", "OnInit", "OnEndBmp", "OnEndPage"}));
    EXPECT_NE(err.find("ERROR: Page 0 could not be prepared: out of memory"), std::string::npos) << err;
}

// The filter reads lines straight into the page image where it can, the
// printer application pushes them there one by one; the image must come out
// byte for byte as the one built from a page buffer, for
// every depth, lines shorter or longer than a row, and pages cut short.
TEST(IntakeInImage, SameImageAsFromThePageBuffer) {
    std::mt19937 rng(61);
    int n = 0;
    for (unsigned bpp : {1u, 2u, 4u, 8u, 24u, 32u}) {
        for (unsigned w : {1u, 5u, 8u, 13u}) {
            const unsigned natural = (w * bpp + 7) / 8;
            for (unsigned bpl : {natural, natural > 1 ? natural - 1 : 0u, natural + 5}) {
                for (unsigned arrive : {5u, 3u, 0u}) {
                    cups_page_header2_t h;
                    memset(&h, 0, sizeof(h));
                    h.HWResolution[0] = h.HWResolution[1] = 203;
                    h.cupsWidth = w;
                    h.cupsHeight = 5;
                    h.cupsBitsPerPixel = bpp;
                    h.cupsBytesPerLine = bpl;
                    std::vector<unsigned char> lines(static_cast<size_t>(bpl) * 5 + 1);
                    for (auto& b : lines) b = static_cast<unsigned char>(rng());

                    DfPageIntake viaBuffer;
                    ASSERT_TRUE(viaBuffer.Begin(h));
                    for (unsigned y = 0; y < arrive; ++y) viaBuffer.AddLine(lines.data() + y * bpl);
                    viaBuffer.FillRest();
                    CxImage expect(0);
                    const bool built =
                        expect.CreateFromArray(reinterpret_cast<unsigned char*>(viaBuffer.Page().GetBuffer()),
                                               w, 5, bpp, bpl, false);

                    CxImage image(0);
                    DfPageIntake intake;
                    ASSERT_TRUE(intake.Begin(h, &image));
                    for (unsigned y = 0; y < arrive; ++y) {
                        memcpy(intake.LineBuffer(), lines.data() + y * bpl, bpl);
                        intake.CommitLine();
                    }
                    // A failed read may leave a partial line behind.
                    if (arrive < 5 && bpl) memset(intake.LineBuffer(), 0, bpl);
                    EXPECT_EQ(intake.FillRest(), 5 - arrive);
                    // 32 bits (split into colour and alpha), depths the image does not
                    // take and lines longer than a row go through the page buffer.
                    const bool fits =
                        bpp != 2 && bpp != 32 && bpl <= ((w * (bpp == 24 ? 24 : bpp) + 31) / 32) * 4;
                    ASSERT_EQ(intake.InImage(), fits)
                        << bpp << " bits, " << w << " wide, " << bpl << " bytes";
                    if (!fits) continue;
                    ASSERT_TRUE(built) << bpp << " bits, " << w << " wide, " << bpl << " bytes per line";
                    ASSERT_TRUE(SameImage(expect, image))
                        << bpp << " bits, " << w << " wide, " << bpl << " bytes";
                    // Lines pushed one by one (the printer application's way)
                    // land in the image as well.
                    CxImage pushed(0);
                    DfPageIntake byLine;
                    ASSERT_TRUE(byLine.Begin(h, &pushed));
                    for (unsigned y = 0; y < arrive; ++y) byLine.AddLine(lines.data() + y * bpl);
                    byLine.FillRest();
                    EXPECT_EQ(byLine.Page().GetBufferLength(), 0);
                    ASSERT_TRUE(SameImage(expect, pushed))
                        << "AddLine: " << bpp << " bits, " << w << " wide, " << bpl << " bytes";
                    ++n;
                }
            }
        }
    }
    EXPECT_EQ(n, 4 * 4 * 2 * 3);  // four depths; lines five bytes longer pass every row here
}

}  // namespace
