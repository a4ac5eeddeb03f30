// PNG resources through LoadPngImage, the picture control and the logo, on
// the settings window's template under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "resources/resource_ids.h"
#include "tests/ui/win_test_support.h"
#include "ui/handles.h"
#include "widgets/fit_rule.h"
#include "widgets/logo.h"
#include "widgets/png_image.h"
#include "widgets/png_static.h"

namespace nerova {
namespace {

using test::PixelAt;
using test::ScriptedDialog;
using widgets::LoadPngImage;

// The colour of a picture's pixel, drawn 1:1 into a 32-bit bitmap.
Gdiplus::Color PictureColour(Gdiplus::Image& image, int x, int y) {
  Gdiplus::Bitmap canvas(static_cast<INT>(image.GetWidth()), static_cast<INT>(image.GetHeight()),
                         PixelFormat32bppARGB);
  {
    Gdiplus::Graphics graphics(&canvas);
    graphics.Clear(Gdiplus::Color(0, 0, 0, 0));
    graphics.DrawImage(&image, 0, 0, static_cast<INT>(image.GetWidth()), static_cast<INT>(image.GetHeight()));
  }
  Gdiplus::Color colour;
  canvas.GetPixel(x, y, &colour);
  return colour;
}

bool IsRed(COLORREF c) { return GetRValue(c) > 150 && GetGValue(c) < 90 && GetBValue(c) < 90; }
bool IsGreen(Gdiplus::Color c) { return c.GetG() > c.GetR() + 60 && c.GetG() > c.GetB() + 60; }
bool IsDark(COLORREF c) { return GetRValue(c) < 90 && GetGValue(c) < 90 && GetBValue(c) < 100; }

TEST(LoadPngImage, PicturesHaveTheirSizes) {
  struct Expected {
    int id;
    UINT width, height;
  };
  for (Expected e : {Expected{IDB_LOGO, 1276, 418}, Expected{IDB_SIGNAL_EXCELLENT, 48, 48},
                     Expected{IDB_SIGNAL_GOOD, 48, 48}, Expected{IDB_SIGNAL_FAIR, 48, 48},
                     Expected{IDB_SIGNAL_WEAK, 48, 48}, Expected{IDB_SIGNAL_NONE, 48, 48},
                     Expected{IDB_HELP_ARROW, 201, 113}}) {
    std::unique_ptr<Gdiplus::Image> image = LoadPngImage(e.id);
    ASSERT_TRUE(image) << e.id;
    EXPECT_EQ(image->GetLastStatus(), Gdiplus::Ok) << e.id;
    EXPECT_EQ(image->GetWidth(), e.width) << e.id;
    EXPECT_EQ(image->GetHeight(), e.height) << e.id;
  }
}

// The PNG colour type of a picture resource (IHDR byte 25): 6 RGBA, 3 palette.
int PngColourType(int id) {
  HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(id), L"PNG");
  if (!info || SizeofResource(nullptr, info) < 26) return -1;
  const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(nullptr, info)));
  return bytes[24] == 8 ? bytes[25] : -1;  // 8 bits per sample or channel
}

TEST(LoadPngImage, LogoIsRgbaOnTransparentAndTheOthersPalettePictures) {
  EXPECT_EQ(PngColourType(IDB_LOGO), 6);
  std::unique_ptr<Gdiplus::Image> logo = LoadPngImage(IDB_LOGO);
  EXPECT_TRUE(Gdiplus::IsAlphaPixelFormat(logo->GetPixelFormat()));
  EXPECT_EQ(PictureColour(*logo, 0, 0).GetA(), 0);
  EXPECT_EQ(PictureColour(*logo, 1275, 417).GetA(), 0);
  for (int id : {IDB_SIGNAL_EXCELLENT, IDB_SIGNAL_GOOD, IDB_SIGNAL_FAIR, IDB_SIGNAL_WEAK, IDB_SIGNAL_NONE,
                 IDB_HELP_ARROW})
    EXPECT_EQ(PngColourType(id), 3) << id;
}

TEST(LoadPngImage, SignalPicturesShowTheirLevelsColours) {
  // The dot sits at (24, 39), the outer arc's top at (24, 10).
  auto dot = [](int id) { return PictureColour(*LoadPngImage(id), 24, 39); };
  auto outerArc = [](int id) { return PictureColour(*LoadPngImage(id), 24, 10); };
  EXPECT_TRUE(IsGreen(dot(IDB_SIGNAL_EXCELLENT)));
  EXPECT_TRUE(IsGreen(outerArc(IDB_SIGNAL_EXCELLENT)));
  const Gdiplus::Color blue = dot(IDB_SIGNAL_GOOD);
  EXPECT_GT(blue.GetB(), blue.GetR() + 80);
  const Gdiplus::Color yellow = dot(IDB_SIGNAL_FAIR);
  EXPECT_GT(yellow.GetR(), 200);
  EXPECT_GT(yellow.GetG(), 150);
  EXPECT_LT(yellow.GetB(), 80);
  const Gdiplus::Color fairOuter = outerArc(IDB_SIGNAL_FAIR);
  EXPECT_LT(std::abs(fairOuter.GetR() - fairOuter.GetB()), 30);  // grey
  const Gdiplus::Color weakDot = dot(IDB_SIGNAL_WEAK);
  EXPECT_TRUE(IsRed(RGB(weakDot.GetR(), weakDot.GetG(), weakDot.GetB())));
  const Gdiplus::Color weakArc = outerArc(IDB_SIGNAL_WEAK);
  EXPECT_LT(std::abs(weakArc.GetR() - weakArc.GetB()), 30);
  // The strike runs through the middle; the dot stays grey.
  std::unique_ptr<Gdiplus::Image> none = LoadPngImage(IDB_SIGNAL_NONE);
  const Gdiplus::Color strike = PictureColour(*none, 24, 24);
  EXPECT_TRUE(IsRed(RGB(strike.GetR(), strike.GetG(), strike.GetB())));
  const Gdiplus::Color noneDot = PictureColour(*none, 24, 39);
  EXPECT_LT(std::abs(noneDot.GetR() - noneDot.GetB()), 30);
  EXPECT_GT(noneDot.GetA(), 200);
}

TEST(LoadPngImage, ArrowPointsLeftInRedWithAGreyOutline) {
  std::unique_ptr<Gdiplus::Image> arrow = LoadPngImage(IDB_HELP_ARROW);
  const Gdiplus::Color body = PictureColour(*arrow, 120, 56);
  EXPECT_TRUE(IsRed(RGB(body.GetR(), body.GetG(), body.GetB())));
  const Gdiplus::Color outline = PictureColour(*arrow, 120, 35);
  EXPECT_LT(std::abs(outline.GetR() - outline.GetB()), 30);
  EXPECT_GT(outline.GetA(), 200);
  EXPECT_EQ(PictureColour(*arrow, 0, 0).GetA(), 0);
  EXPECT_EQ(PictureColour(*arrow, 200, 5).GetA(), 0);  // beside the shaft
  EXPECT_GT(PictureColour(*arrow, 12, 56).GetA(), 200);  // the tip on the left
}

TEST(LoadPngImage, MissingPictureReadsAsZeroByZero) {
  std::unique_ptr<Gdiplus::Image> image = LoadPngImage(4711);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->GetWidth(), 0u);
  EXPECT_EQ(image->GetHeight(), 0u);
}

class PictureControlTest : public testing::Test {
 protected:
  void SetUp() override { test::InitCommonControlsForTests(); }
};

// Paints the control at once and reads a pixel of it.
COLORREF Repaint(HWND control, int x, int y) {
  InvalidateRect(control, nullptr, TRUE);
  UpdateWindow(control);
  return PixelAt(control, x, y);
}

TEST_F(PictureControlTest, AttachingAddsClickNotificationAndKeepsTheFrameStyle) {
  ScriptedDialog dialog(IDD_SETTINGS);
  dialog.RunScript([](ScriptedDialog& d) {
    widgets::CPngStatic picture;
    HWND frame = d.Item(IDC_SIGNAL_PICTURE);
    const LONG_PTR before = GetWindowLongPtrW(frame, GWL_STYLE);
    ASSERT_TRUE(picture.AttachToItem(d.Handle(), IDC_SIGNAL_PICTURE));
    EXPECT_EQ(GetWindowLongPtrW(frame, GWL_STYLE), before | SS_NOTIFY);
    EXPECT_EQ(picture.m_pImage, nullptr);
  });
}

TEST_F(PictureControlTest, PaintsTheFittedPictureOnTheMenuColourAndPlainWithoutOne) {
  ScriptedDialog dialog(IDD_SETTINGS);
  dialog.RunScript([](ScriptedDialog& d) {
    widgets::CPngStatic picture;
    HWND frame = d.Item(IDC_SIGNAL_PICTURE);
    ASSERT_TRUE(picture.AttachToItem(d.Handle(), IDC_SIGNAL_PICTURE));
    // A wide frame: the 48 x 48 picture fills the height, centred across.
    SetWindowPos(frame, nullptr, 0, 0, 60, 30, SWP_NOMOVE | SWP_NOZORDER);
    const COLORREF menu = GetSysColor(COLOR_MENU);
    // What the plain static shows, read before the picture control exists.
    picture.Detach();
    const COLORREF frameColour = Repaint(frame, 0, 0);
    const COLORREF insideColour = PixelAt(frame, 30, 15);
    ASSERT_NE(frameColour, menu);
    ASSERT_TRUE(picture.Attach(frame));

    // No picture: the plain black frame.
    EXPECT_EQ(Repaint(frame, 0, 0), frameColour);
    EXPECT_EQ(PixelAt(frame, 59, 29), frameColour);
    EXPECT_EQ(PixelAt(frame, 30, 15), insideColour);

    std::unique_ptr<Gdiplus::Image> excellent = LoadPngImage(IDB_SIGNAL_EXCELLENT);
    picture.m_pImage = excellent.get();
    // The band left of the picture and the frame's own border are cleared.
    EXPECT_EQ(Repaint(frame, 0, 0), menu);
    EXPECT_EQ(PixelAt(frame, 5, 15), menu);
    EXPECT_EQ(PixelAt(frame, 55, 15), menu);
    // Placed at x = (60 - 30) / 2 = 15, 30 x 30: the dot at (15 + 15, 39 * 30 / 48).
    const COLORREF dot = PixelAt(frame, 30, 24);
    EXPECT_GT(GetGValue(dot), GetRValue(dot) + 50);
    EXPECT_GT(GetGValue(dot), GetBValue(dot) + 50);

    // A picture that reads as 0 x 0 paints like no picture.
    std::unique_ptr<Gdiplus::Image> missing = LoadPngImage(4711);
    picture.m_pImage = missing.get();
    EXPECT_EQ(Repaint(frame, 0, 0), frameColour);

    // So does a 0 x 0 frame (nothing to see, and no failure).
    picture.m_pImage = excellent.get();
    SetWindowPos(frame, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOZORDER);
    Repaint(frame, 0, 0);
    // A tall frame: the picture fills the width, centred vertically.
    SetWindowPos(frame, nullptr, 0, 0, 30, 60, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(Repaint(frame, 15, 2), menu);
    const COLORREF tallDot = PixelAt(frame, 15, 15 + 24);
    EXPECT_GT(GetGValue(tallDot), GetRValue(tallDot) + 50);
    picture.m_pImage = nullptr;  // the picture goes before the control
  });
}

// The settings window's paint: the dialog's own, then the logo.
class LogoDialog : public ScriptedDialog {
 public:
  LogoDialog() : ScriptedDialog(IDD_SETTINGS) {}
  int paints = 0;

 protected:
  bool OnPaint() override {
    { ui::PaintScope paint(Handle()); }
    widgets::DrawLogo(Item(IDC_LOGO_FRAME));
    ++paints;
    return true;
  }
};

TEST_F(PictureControlTest, LogoIsPaintedIntoItsFrameWithoutClearingBesideIt) {
  LogoDialog dialog;
  dialog.RunScript([](ScriptedDialog& base) {
    auto& d = static_cast<LogoDialog&>(base);
    HWND frame = d.Item(IDC_LOGO_FRAME);
    RECT client{};
    GetClientRect(frame, &client);
    InvalidateRect(d.Handle(), nullptr, TRUE);
    UpdateWindow(d.Handle());
    ASSERT_GE(d.paints, 1);

    const std::optional<widgets::PlacedRect> placed =
        widgets::FitImage(1276, 418, {0, 0, client.right, client.bottom});
    ASSERT_TRUE(placed);
    int inkInside = 0, inkOutside = 0;
    for (int y = 0; y < client.bottom; ++y) {
      for (int x = 0; x < client.right; ++x) {
        const bool inside = y >= placed->y && y < placed->y + placed->height;
        if (IsDark(PixelAt(frame, x, y))) ++(inside ? inkInside : inkOutside);
      }
    }
    EXPECT_GT(inkInside, placed->width * placed->height / 20);  // the word mark
    EXPECT_EQ(inkOutside, 0);  // the bands keep the window's background
    // The band shows the dialog's own face, not the menu colour of a clear.
    // (The lower band: the upper one may lie under the Exit button's edge.)
    ASSERT_GT(client.bottom, placed->y + placed->height);
    EXPECT_EQ(PixelAt(frame, client.right / 2, client.bottom - 1), PixelAt(d.Handle(), 2, 2));
  });
}

}  // namespace
}  // namespace nerova
