// The settings window's "FW Update" button, pressed in the real window over
// the receiver substitute (as in the demo build): the package that the file
// dialog hands over is unpacked and its tool starts from the new directory.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <memory>

#include "resources/resource_ids.h"
#include "sim/sim_stack.h"
#include "tests/settings/win/dialog_runner.h"
#include "tests/update/firmware_update_test_support.h"
#include "update/firmware_update.h"
#include "widgets/gdiplus_session.h"

namespace nerova::update {
namespace {

using namespace nerova::update::testing;

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    m_gdiplus = std::make_unique<widgets::GdiplusSession>();
  }
  void TearDown() override { m_gdiplus.reset(); }

 private:
  std::unique_ptr<widgets::GdiplusSession> m_gdiplus;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new Environment);

TEST(FirmwareUpdateWindow, FwUpdateButtonStartsThePackagesToolInItsExtractionDirectory) {
  PrivateTemp temp;
  const fs::path package = temp.Package(L"receiver-firmware.zip");
  WritePackage(package, {{"UsbScsiCmd.exe", StandInToolBytes()}, {"image/fw.bin", std::string(20000, 'x')}});
  CapturedBoxes boxes;
  AnsweredFileDialog dialog(AnsweredFileDialog::Chosen(package));
  HWND settingsWindow = nullptr;
  std::optional<StandInRecord> record;
  {
    sim::SimStack stack;
    stack.AddReceiver();
    settings::win::testing::DialogRunner window(stack);
    ASSERT_TRUE(window.Started());
    settingsWindow = window.Window();
    PostMessageW(window.Window(), WM_COMMAND, MAKEWPARAM(IDC_FW_UPDATE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(window.Item(IDC_FW_UPDATE)));
    record = WaitForRecord(temp.RecordPath());
    // The window goes on as before: its controls stay enabled.
    EXPECT_TRUE(window.Enabled(IDC_FW_UPDATE));
    EXPECT_TRUE(window.Enabled(IDC_APPLY));
  }

  ASSERT_TRUE(record) << "the tool did not start";
  EXPECT_TRUE(boxes.Boxes().empty());
  ASSERT_EQ(dialog.Requests().size(), 1u);
  EXPECT_EQ(dialog.Requests()[0].owner, settingsWindow);

  const std::optional<fs::path> made = SingleExtractionDirectory(temp.Temp());
  ASSERT_TRUE(made);
  const fs::path directory = *made;
  EXPECT_EQ(Lower(record->workingDirectory), Lower(directory.wstring()));
  EXPECT_EQ(record->argumentCount, 1);
  EXPECT_EQ(ReadBytes(directory / L"image" / L"fw.bin"), std::string(20000, 'x'));
}

}  // namespace
}  // namespace nerova::update
