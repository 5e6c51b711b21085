// Byte buffer.
#include <gtest/gtest.h>

#include <cstring>

#include "base/mybuffer.h"
#include "helpers/hexdump.h"

namespace {

std::vector<unsigned char> Content(CMyBuffer& b) {
    return std::vector<unsigned char>(b.GetBuffer(), b.GetBuffer() + b.GetBufferLength());
}

TEST(MyBuffer, NewBufferIsEmptyWith1024ZeroBytes) {
    CMyBuffer b;
    EXPECT_EQ(b.GetBufferLength(), 0);
    EXPECT_EQ(b.GetBufferSize(), 1024);
    EXPECT_EQ(b.GetMaxBufferSize(), 104857600);
    for (int i = 0; i < 1024; i++) ASSERT_EQ(b.GetBuffer()[i], 0);
}

TEST(MyBuffer, TextOperations) {
    CMyBuffer b;
    b.AddInt(-42);
    b.AddByte(13);
    b.AddByte(10);
    b.AddStringA("");
    b.AddStringA("SIZE ");
    b.AddInt(0);
    b.AddInt(2147483647);
    b.AddInt(-2147483647 - 1);
    EXPECT_TRUE(SameBytes(Bytes(std::string("-42\r\nSIZE 02147483647-2147483648")), Content(b)));
}

TEST(MyBuffer, GrowthIsExactFit) {
    CMyBuffer b;
    std::vector<unsigned char> block(1500, 0xAB);
    b.AddBuffer(block.data(), 1500);
    EXPECT_EQ(b.GetBufferSize(), 1500);
    EXPECT_EQ(b.GetBufferLength(), 1500);
    b.SetBufferSize(100);  // never shrinks
    EXPECT_EQ(b.GetBufferSize(), 1500);
    EXPECT_TRUE(SameBytes(block, Content(b)));
}

TEST(MyBuffer, InitBufferClears) {
    CMyBuffer b;
    b.AddStringA("hello");
    b.InitBuffer(0);
    EXPECT_EQ(b.GetBufferLength(), 0);
    EXPECT_EQ(b.GetBufferSize(), 1024);
    for (int i = 0; i < 1024; i++) ASSERT_EQ(b.GetBuffer()[i], 0);

    CMyBuffer c;
    c.InitBuffer(8);
    EXPECT_TRUE(SameBytes(std::vector<unsigned char>(8, 0), Content(c)));
    c.InitBuffer(3000);
    EXPECT_EQ(c.GetBufferLength(), 3000);
    EXPECT_EQ(c.GetBufferSize(), 3000);
}

TEST(MyBuffer, LimitDropsOldContentWhenCapacityIsExceeded) {
    // Length 1020 of capacity 1024 under a limit of 1030: growing to 1030 is
    // allowed, passing the limit drops the content and keeps the new block.
    CMyBuffer d;
    d.SetMaxBufferSize(1030);
    std::vector<unsigned char> fill(1020, 7);
    d.AddBuffer(fill.data(), 1020);
    EXPECT_TRUE(d.AddBuffer("ABCDEFGHIJ", 10));
    EXPECT_EQ(d.GetBufferLength(), 1030);
    EXPECT_EQ(d.GetBufferSize(), 1030);
    EXPECT_FALSE(d.AddBuffer("12345678", 8));  // the loss is reported and stays marked
    EXPECT_TRUE(SameBytes(Bytes(std::string("12345678")), Content(d)));
    EXPECT_EQ(d.GetBufferSize(), 1030);
    EXPECT_TRUE(d.AddByte(1) && d.Failed());
    CMyBuffer e;  // appending a buffer that lost bytes carries the loss along
    EXPECT_TRUE(!e.AddBuffer(d) && e.Failed() && !d.AddBuffer(nullptr, 1));
    e.InitBuffer(0);
    EXPECT_FALSE(e.Failed());
}

TEST(MyBuffer, BlockLargerThanStorageAfterDropStillFits) {
    CMyBuffer b;
    b.SetMaxBufferSize(1100);
    std::vector<unsigned char> fill(1000, 7);
    b.AddBuffer(fill.data(), 1000);
    std::vector<unsigned char> block(1050, 9);
    b.AddBuffer(block.data(), 1050);  // over the limit: old content dropped, block kept whole
    EXPECT_TRUE(SameBytes(block, Content(b)));
}

TEST(MyBuffer, NoLimitGrowsWithoutBound) {
    CMyBuffer b;
    b.SetMaxBufferSize(0);
    std::vector<unsigned char> block(1 << 20, 3);
    for (int i = 0; i < 3; i++) b.AddBuffer(block.data(), static_cast<int>(block.size()));
    EXPECT_EQ(b.GetBufferLength(), 3 << 20);
}

}  // namespace
