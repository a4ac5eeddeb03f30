// The fixed rules of the settings window: which stored URL means which mode
// and model, the signal thresholds and the long-press text.
#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "settings/camera_model.h"
#include "settings/long_press.h"
#include "settings/signal_level.h"

namespace nerova::settings {
namespace {

TEST(CameraModelTable, StoredDefaultUrlsNameTheirModels) {
  const CameraModel* rc300w = ModelForStoredUrl(L"rtsp://192.168.1.200/video1.sdp");
  ASSERT_NE(rc300w, nullptr);
  EXPECT_EQ(rc300w->name, L"RC300W");
  EXPECT_EQ(rc300w->defaultWifiName, L"TAVI_5G_");
  EXPECT_EQ(rc300w->defaultWifiPassword, L"97531864");

  const CameraModel* rd700 = ModelForStoredUrl(L"rtsp://192.168.1.100/video0");
  ASSERT_NE(rd700, nullptr);
  EXPECT_EQ(rd700->name, L"RD700/RC60H5");
  EXPECT_EQ(rd700->defaultWifiName, L"TAVI-");
  EXPECT_EQ(rd700->defaultWifiPassword, L"24681357");
}

TEST(CameraModelTable, AnyOtherUrlIsTypedByHand) {
  for (const wchar_t* url : {L"", L"RTSP://192.168.1.200/video1.sdp", L"rtsp://192.168.1.200/VIDEO1.SDP",
                             L"rtsp://192.168.1.200/video1.sdp ", L"rtsp://192.168.1.200/video1.sdp/",
                             L" rtsp://192.168.1.100/video0", L"rtsp://192.168.1.100/video01",
                             L"rtsp://192.168.1.100/video", L"rtsp://192.168.1.100/video1.sdp"}) {
    EXPECT_EQ(ModelForStoredUrl(url), nullptr) << "url: [" << std::string(url, url + std::wcslen(url)) << "]";
  }
}

TEST(CameraModelTable, NamesMatchWhole) {
  EXPECT_EQ(FindCameraModel(L"RC300W"), &kCameraModels[0]);
  EXPECT_EQ(FindCameraModel(L"RD700/RC60H5"), &kCameraModels[1]);
  EXPECT_EQ(FindCameraModel(L"rc300w"), nullptr);
  EXPECT_EQ(FindCameraModel(L"RD700"), nullptr);
  EXPECT_EQ(FindCameraModel(L""), nullptr);
  // The two cameras have different addresses.
  EXPECT_NE(kCameraModels[0].defaultUrl, kCameraModels[1].defaultUrl);
}

TEST(SignalThresholds, PictureForEachBand) {
  struct Case {
    std::int32_t rssi;
    SignalPicture picture;
  };
  const Case cases[] = {
      {3, SignalPicture::Excellent},      {-10, SignalPicture::Excellent},
      {-50, SignalPicture::Excellent},    {-51, SignalPicture::Good},
      {-60, SignalPicture::Good},         {-61, SignalPicture::Fair},
      {-70, SignalPicture::Fair},         {-71, SignalPicture::Weak},
      {-200, SignalPicture::Weak},        {-201, SignalPicture::NoSignal},
      {-10000, SignalPicture::NoSignal},  {-1, SignalPicture::NoSignal},
      {0, SignalPicture::NoSignal},       {-2, SignalPicture::Excellent},
      {INT32_MIN, SignalPicture::NoSignal}, {INT32_MAX, SignalPicture::Excellent},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SignalPictureFor(c.rssi), c.picture) << "rssi " << c.rssi;
  }
}

TEST(SignalThresholds, NumberViewIsEmptyWithoutReading) {
  EXPECT_EQ(RssiNumberText(-63), L"-63");
  EXPECT_EQ(RssiNumberText(3), L"3");
  EXPECT_EQ(RssiNumberText(-200), L"-200");
  EXPECT_EQ(RssiNumberText(-2), L"-2");
  EXPECT_EQ(RssiNumberText(0), L"");
  EXPECT_EQ(RssiNumberText(-1), L"");
  EXPECT_EQ(RssiNumberText(-201), L"");
  EXPECT_EQ(RssiNumberText(-10000), L"");
}

TEST(LongPress, TextIsTenthsWithOneDecimal) {
  EXPECT_EQ(LongPressText(20), L"2.0(s)");
  EXPECT_EQ(LongPressText(24), L"2.4(s)");
  EXPECT_EQ(LongPressText(35), L"3.5(s)");
  EXPECT_EQ(LongPressText(199), L"19.9(s)");
  EXPECT_EQ(LongPressText(200), L"20.0(s)");
  // Every slider position gives its own digits back.
  for (std::int32_t p = kLongPressMin; p <= kLongPressMax; ++p) {
    const std::wstring expected = std::to_wstring(p / 10) + L"." + std::to_wstring(p % 10) + L"(s)";
    EXPECT_EQ(LongPressText(p), expected);
  }
}

TEST(LongPress, ClampsToTheSliderRange) {
  EXPECT_EQ(ClampLongPress(5), 20);
  EXPECT_EQ(ClampLongPress(0), 20);
  EXPECT_EQ(ClampLongPress(-35), 20);
  EXPECT_EQ(ClampLongPress(20), 20);
  EXPECT_EQ(ClampLongPress(24), 24);
  EXPECT_EQ(ClampLongPress(200), 200);
  EXPECT_EQ(ClampLongPress(201), 200);
  EXPECT_EQ(ClampLongPress(INT32_MAX), 200);
}

}  // namespace
}  // namespace nerova::settings
