// CPCL renderer: the writes of one label, write by write, for the media
// kinds, reference offsets and an empty page.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/pages.h"
#include "printers/cpcl.h"

namespace {

class TestCPCL : public Captured<CPrinterCPCL> {
public:
};

// A prepared page in img; returns its stored rows inverted, as CG carries them.
ByteVec PreparedPage(CxImage& img, unsigned w, unsigned h, unsigned seed = 1) {
    FillPreparedPage(img, w, h, seed);
    return InvertedRows(img, img.GetEffWidth());
}

TEST(CpclPage, Labels) {
    struct Case {
        const char* name;
        int reference, media;
        unsigned width, height;
        std::string header, pageWidth, cg;
        bool form;
    };
    const Case cases[] = {
        {"gap labels, 384 x 240", 0, 1, 384, 240, "! 0 200 200 240 1\r\n", "PAGE-WIDTH 384\r\n",
         "CG 48 240 0 0\r\n", true},
        {"black line", 0, 2, 384, 10, "! 0 200 200 10 1\r\n", "PAGE-WIDTH 384\r\n", "CG 48 10 0 0\r\n", true},
        {"continuous", 0, 0, 384, 10, "! 0 200 200 10 1\r\n", "PAGE-WIDTH 384\r\n", "CG 48 10 0 0\r\n",
         false},
        {"perforated", 0, 3, 384, 10, "! 0 200 200 10 1\r\n", "PAGE-WIDTH 384\r\n", "CG 48 10 0 0\r\n",
         false},
        {"roll", 0, 4, 384, 10, "! 0 200 200 10 1\r\n", "PAGE-WIDTH 384\r\n", "CG 48 10 0 0\r\n", false},
        // A PPD choice of 2 is stored as 16 and sent as 128; -1 as -8 and -64.
        {"positive offset", 16, 0, 61, 3, "! 128 200 200 3 1\r\n", "PAGE-WIDTH 61\r\n", "CG 8 3 0 0\r\n",
         false},
        {"negative offset", -8, 1, 400, 5, "! -64 200 200 5 1\r\n", "PAGE-WIDTH 400\r\n", "CG 52 5 0 0\r\n",
         true},
        {"offset wraps in 32 bits", INT_MIN + 1, 0, 8, 1, "! 8 200 200 1 1\r\n", "PAGE-WIDTH 8\r\n",
         "CG 4 1 0 0\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestCPCL p;
        p.m_iDpi = 300;  // the header's 200s do not follow the resolution
        p.m_reg.iReference[0] = c.reference;
        p.m_reg.iMediaType = static_cast<DfMediaTracking>(c.media);
        const ByteVec bitmap = PreparedPage(p.m_image, c.width, c.height);
        p.OnPaintBmp();
        std::vector<ByteVec> expected = {Bytes(c.header), Bytes(c.pageWidth), Bytes(c.cg), bitmap};
        if (c.form) expected.push_back(Bytes("FORM\r\n"));
        expected.push_back(Bytes("PRINT\r\n"));
        ASSERT_EQ(p.writes.size(), expected.size());
        for (size_t i = 0; i < expected.size(); i++)
            EXPECT_TRUE(SameBytes(expected[i], p.writes[i])) << "write " << i;
    }
}

// An image without pixels is a page of height 0: header and CG say 0 and no
// bitmap write follows.
TEST(CpclPage, ZeroHeightPage) {
    TestCPCL p;
    p.m_iDpi = 203;
    p.m_reg.iMediaType = DfMediaTracking::Gap;
    p.OnPaintBmp();
    const std::vector<ByteVec> expected = {Bytes("! 0 200 200 0 1\r\n"), Bytes("PAGE-WIDTH 0\r\n"),
                                           Bytes("CG 0 0 0 0\r\n"), Bytes("FORM\r\n"), Bytes("PRINT\r\n")};
    ASSERT_EQ(p.writes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++)
        EXPECT_TRUE(SameBytes(expected[i], p.writes[i])) << "write " << i;
}

TEST(CpclPage, DocumentHooksSendNothing) {
    TestCPCL p;
    p.OnStartDoc(0);
    p.OnEndDoc();
    EXPECT_TRUE(p.writes.empty());
}

}  // namespace
