// Test helper: compressed payloads read back by inflating them, so that a
// test states the rows it expects, not how zlib happens to pack them.
#pragma once

#include "helpers/hexdump.h"

// The TSPL stream with every compressed bitmap "BITMAP x,y,w,h,3,N,<N bytes>"
// written as "BITMAP x,y,w,h,3,<the inflated rows>". A payload that is not
// one complete zlib stream of exactly N bytes inflating to w * h bytes fails
// the test.
ByteVec InflatedTspl(const ByteVec& stream);

// The PeriPage stream with every compressed frame "1F 00 <row bytes:2>
// <rows:2> <N:4> <N bytes>" written as "1F 00 <row bytes> <rows>" and the
// inflated rows. The N bytes must be a bare deflate stream of the rows and
// their Adler-32 (a zlib stream without its two-byte header). The frames are
// found by the preview's decoder.
ByteVec InflatedPeriPage(const ByteVec& stream);
