// The settings window's "FW Update" button, pressed in the real window over
// the receiver substitute: the package that the file
// dialog hands over is unpacked and its tool starts from the new directory.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

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

// Every file and directory of the drive the tests run on, files with size
// and write time, so that a new or replaced one shows up anywhere. A
// directory's own time changes with what is made in it and is not compared;
// links to other places (Wine links the user's shell folders to the home
// directory) are listed, not followed.
using DriveSnapshot = std::map<std::wstring, std::pair<std::uintmax_t, fs::file_time_type>>;

DriveSnapshot SnapshotDrive(const fs::path& drive) {
  DriveSnapshot snapshot;
  std::error_code error;
  const auto options = fs::directory_options::skip_permission_denied;
  for (auto it = fs::recursive_directory_iterator(drive, options, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const DWORD attributes = GetFileAttributesW(it->path().c_str());
    const bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (directory && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) it.disable_recursion_pending();
    std::error_code ignored;
    snapshot[Lower(it->path().wstring())] =
        directory ? std::pair{std::uintmax_t{0}, fs::file_time_type{}}
                  : std::pair{it->file_size(ignored), it->last_write_time(ignored)};
  }
  return snapshot;
}

bool IsAtOrBelow(const std::wstring& path, const std::wstring& top) {
  return path == top || path.rfind(top + L"\\", 0) == 0;
}

TEST(FirmwareUpdateWindow, HostileEntryNamesWriteNothingOutsideTheExtractionDirectory) {
  PrivateTemp temp;
  const fs::path package = temp.Package(L"hostile.zip");
  // ".." runs glued to other characters, with backslashes: Wine's path
  // functions climb at each of them. Names that Windows would not keep as
  // written. Each would land above or beside the extraction directory.
  const std::vector<std::string> hostile = {
      "..x\\..\\..\\up1.txt", "a\\..b\\..\\..\\up2.txt", "..\\..x\\up3.txt", "sub\\..evil\\up4.txt",
      "x..\\..\\..\\up5.txt", "...\\...\\up6.txt", "..\\up7.txt", "..\\..\\..x\\..\\..\\up8.txt",
      "fw.bin.", "fw.bin ", "fw.bin:evil", "con.txt", "sub\\\\up9.txt", "..\\..\\..\\..\\kept.txt"};
  std::vector<PackageFile> files;
  for (const std::string& name : hostile) files.push_back({name, "payload of " + name});
  files.push_back({"UsbScsiCmd.exe", StandInToolBytes()});
  files.push_back({"image/fw.bin", "image"});
  WritePackage(package, files);

  const fs::path drive = fs::path(temp.Root().root_name().wstring() + L"\\");
  const DriveSnapshot before = SnapshotDrive(drive);
  ASSERT_GT(before.size(), 100u) << "the drive was not walked";

  CapturedBoxes boxes;
  AnsweredFileDialog dialog(AnsweredFileDialog::Chosen(package));
  std::optional<StandInRecord> record;
  {
    sim::SimStack stack;
    stack.AddReceiver();
    settings::win::testing::DialogRunner window(stack);
    ASSERT_TRUE(window.Started());
    PostMessageW(window.Window(), WM_COMMAND, MAKEWPARAM(IDC_FW_UPDATE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(window.Item(IDC_FW_UPDATE)));
    record = WaitForRecord(temp.RecordPath());
  }
  ASSERT_TRUE(record) << "the tool did not start";
  EXPECT_TRUE(boxes.Boxes().empty());

  // The extraction directory is the "OLK_" directory whose reserving file
  // lies beside it.
  std::optional<fs::path> made;
  for (const std::wstring& name : ListNames(temp.Temp())) {
    if (name.rfind(L"OLK_", 0) == 0 && fs::is_directory(temp.Temp() / name) &&
        fs::is_regular_file(temp.Temp() / name.substr(4))) {
      made = temp.Temp() / name;
    }
  }
  ASSERT_TRUE(made);

  // New or changed anywhere on the drive: only the extraction directory, the
  // reserving file beside it, and the record the stand-in tool writes.
  const std::wstring directory = Lower(made->wstring());
  const std::wstring reserving = Lower((temp.Temp() / made->filename().wstring().substr(4)).wstring());
  const std::wstring records = Lower(temp.RecordPath().parent_path().wstring());
  const DriveSnapshot after = SnapshotDrive(drive);
  for (const auto& [path, state] : after) {
    if (IsAtOrBelow(path, directory) || path == reserving || IsAtOrBelow(path, records)) continue;
    const auto found = before.find(path);
    EXPECT_TRUE(found != before.end() && found->second == state)
        << (found == before.end() ? "new: " : "changed: ") << std::string(path.begin(), path.end());
  }
  EXPECT_EQ(SingleExtractionDirectory(temp.Temp()), made);
  // The refused entries are not in it either; the one whose climbs the
  // sanitising rules drop lands at its top.
  EXPECT_EQ(ListTree(*made), (std::vector<std::string>{"UsbScsiCmd.exe", "image/", "image/fw.bin", "kept.txt"}));
}

}  // namespace
}  // namespace nerova::update
