// Linked with the shared library alone: the data source, a separate shared
// object, builds its bands with these members of CImg, so each must be
// exported (a hidden one fails this program's link).
#include "CImg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace Tvk;
using namespace Tvk::Imvra;

TEST(CImgExport, DataSourceMembersLinkFromTheSharedLibrary) {
    auto band = std::make_unique<CImg>();
    ASSERT_TRUE(band->createImg(0, 0, 8, 4, 8, 8, 1, 0, 300, 300));
    tagIMAGEINFO* r = *band;
    ASSERT_NE(r, nullptr);
    std::memset(r->lpImage, 7, r->tImageSize);

    CImg copy;
    copy = *band;
    EXPECT_EQ(static_cast<tagIMAGEINFO*>(copy)->lpImage[31], 7);

    CImg other;
    ASSERT_TRUE(other.createImg(16, 2, 16, 8, 1, 0, 200, 200));
    tagIMAGEINFO record = *static_cast<tagIMAGEINFO*>(other);
    CImg fromRecord;
    ASSERT_TRUE(fromRecord.createImg(record));
    EXPECT_EQ(static_cast<tagIMAGEINFO*>(fromRecord)->tImageSize, 32u);
    fromRecord.deleteImg();
    EXPECT_TRUE(fromRecord.isNull());

    // A raw band the data source fills whole: not cleared first.
    CImg raw;
    ASSERT_TRUE(raw.createImgForWrite(record));
    EXPECT_EQ(static_cast<tagIMAGEINFO*>(raw)->tImageSize, 32u);
    EXPECT_FALSE(raw.isNull());
}
