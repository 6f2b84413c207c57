// The splash picture on the Windows side: the pixels a PNG hands to the
// layered window, which the screen under test cannot show at half alpha.
#include "win_test_support.h"

#include "splash/splash_picture_win32.h"

namespace {

// 2 x 1, RGBA: yellow at alpha 128, then opaque red.
const uint8_t kHalfYellowThenRed[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00,
    0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0xF4, 0x22, 0x7F, 0x8A, 0x00, 0x00, 0x00, 0x11, 0x49,
    0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0xFF, 0x9F, 0xA1, 0xE1, 0x3F, 0x03, 0xC3, 0x7F, 0x00, 0x16, 0x75, 0x04,
    0x7D, 0x39, 0x8E, 0xF8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

TEST(WinSplashPicture, PngPixelsArePremultipliedForTheLayeredWindow) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        SplashPicture picture;
        ASSERT_TRUE(picture.loadFromMemory(kHalfYellowThenRed, sizeof kHalfYellowThenRed));
        ASSERT_TRUE(picture.hasAlpha());
        EXPECT_EQ(picture.width(), 2);
        EXPECT_EQ(picture.height(), 1);
        HBITMAP bitmap = picture.releaseSection();
        DIBSECTION section;
        ASSERT_EQ(GetObjectW(bitmap, sizeof section, &section), static_cast<int>(sizeof section));
        const uint8_t* bits = static_cast<const uint8_t*>(section.dsBm.bmBits);
        ASSERT_NE(bits, nullptr);
        // B, G, R, A: colours scaled by their alpha, as UpdateLayeredWindow takes them.
        std::vector<int> pixels(bits, bits + 8);
        EXPECT_EQ(pixels, std::vector<int>({0, 128, 128, 128, 0, 0, 255, 255}));
        DeleteObject(bitmap);
    }
    CoUninitialize();
}

}  // namespace
