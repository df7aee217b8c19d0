#include "PlatformLoader.h"

#include <gtest/gtest.h>

using Tvk::Imvra::PlatformLayer;

TEST(PlatformLayer, MissingLayerGivesNoSymbols) {
    PlatformLayer missing("nothere", "libKdNothing.so");
    EXPECT_EQ(missing.symbol("ZNTX_exopen"), nullptr);
    EXPECT_FALSE(missing.loaded());
}

TEST(PlatformLayer, PdfLayerFoundInTheBuildTree) {
    PlatformLayer pdf("pdf", "libKdPdf.so");
    EXPECT_NE(pdf.symbol("ZNTX_exopen"), nullptr);
    EXPECT_EQ(pdf.symbol("ZNTX_nosuchcall"), nullptr);
}
