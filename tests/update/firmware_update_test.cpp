// The firmware update flow under Wine: packages written by the tests, the
// stand-in flashing tool started for real, boxes and the file dialog
// answered in place of the user, each test in a temporary directory of its
// own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "tests/update/firmware_update_test_support.h"
#include "ui/handles.h"
#include "ui/thread_stop.h"
#include "update/firmware_update.h"
#include "update/firmware_update_launch.h"

namespace nerova::update {
namespace {

using namespace nerova::update::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

// Copies of what the flow put into the launch record, kept after the call.
struct LaunchSeen {
  DWORD cbSize = 0;
  ULONG fMask = 0;
  HWND hwnd = reinterpret_cast<HWND>(1);
  std::optional<std::wstring> verb, file, parameters, directory;
  int nShow = -1;
  bool restZero = false;
  HANDLE processGiven = nullptr;
};

std::optional<std::wstring> Text(LPCWSTR text) {
  if (!text) return std::nullopt;
  return std::wstring(text);
}

// Records each launch; with `failWith` set the launch fails with that last
// error (and `shellCode` in hInstApp, as the shell leaves it); unset the tool really starts and
// the test keeps a handle of its own on the process to wait for its end.
class RecordingLauncher {
 public:
  explicit RecordingLauncher(std::optional<DWORD> failWith = std::nullopt, INT_PTR shellCode = 0)
      : m_failWith(failWith),
        m_shellCode(shellCode), m_scope([this](SHELLEXECUTEINFOW& record) { return Launch(record); }) {}
  ~RecordingLauncher() {
    for (HANDLE process : m_processes) {
      WaitForSingleObject(process, kTimeoutMs);
      CloseHandle(process);
    }
  }
  RecordingLauncher(const RecordingLauncher&) = delete;
  RecordingLauncher& operator=(const RecordingLauncher&) = delete;

  const std::vector<LaunchSeen>& Launches() const { return m_launches; }

 private:
  BOOL Launch(SHELLEXECUTEINFOW& record) {
    LaunchSeen seen;
    seen.cbSize = record.cbSize;
    seen.fMask = record.fMask;
    seen.hwnd = record.hwnd;
    seen.verb = Text(record.lpVerb);
    seen.file = Text(record.lpFile);
    seen.parameters = Text(record.lpParameters);
    seen.directory = Text(record.lpDirectory);
    seen.nShow = record.nShow;
    seen.restZero = !record.hInstApp && !record.lpIDList && !record.lpClass && !record.hkeyClass &&
                    record.dwHotKey == 0 && !record.hIcon && !record.hProcess;
    if (m_failWith) {
      m_launches.push_back(seen);
      record.hInstApp = reinterpret_cast<HINSTANCE>(m_shellCode);
      SetLastError(*m_failWith);
      return FALSE;
    }
    const BOOL started = ShellExecuteExW(&record);
    const DWORD error = GetLastError();
    seen.processGiven = record.hProcess;
    HANDLE copy = nullptr;
    if (started && record.hProcess &&
        DuplicateHandle(GetCurrentProcess(), record.hProcess, GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0))
      m_processes.push_back(copy);
    m_launches.push_back(seen);
    SetLastError(error);
    return started;
  }

  std::optional<DWORD> m_failWith;
  INT_PTR m_shellCode;
  std::vector<LaunchSeen> m_launches;
  std::vector<HANDLE> m_processes;
  ScopedLaunchHandler m_scope;
};

std::wstring LaunchFailure(int code) {
  return L"The upgrade process cannot be started, code:" + std::to_wstring(code);
}

class FirmwareUpdateTest : public ::testing::Test {
 protected:
  // The reserving file and its "OLK_" directory, the only two names the
  // temporary directory may hold after one update.
  struct Made {
    std::wstring reserving;
    fs::path directory;
  };
  std::vector<Made> MadeInTemp() const {
    std::vector<Made> made;
    const std::vector<std::wstring> names = ListNames(temp.Temp());
    for (const std::wstring& name : names) {
      if (name.rfind(kDirectoryPrefix, 0) == 0) continue;
      made.push_back({name, temp.Temp() / (kDirectoryPrefix + name)});
    }
    return made;
  }
  // Exactly one reserving file, an empty regular file, and its directory.
  fs::path OnlyExtractionDirectory() const {
    const std::vector<Made> made = MadeInTemp();
    EXPECT_EQ(made.size(), 1u);
    EXPECT_EQ(ListNames(temp.Temp()).size(), 2u);
    if (made.empty()) return {};
    EXPECT_TRUE(fs::is_regular_file(temp.Temp() / made[0].reserving));
    EXPECT_EQ(fs::file_size(temp.Temp() / made[0].reserving), 0u);
    EXPECT_TRUE(fs::is_directory(made[0].directory));
    return made[0].directory;
  }

  FirmwareUpdateOutcome Update(const fs::path& package) {
    AnsweredFileDialog dialog(AnsweredFileDialog::Chosen(package));
    return RunFirmwareUpdate(owner.Handle());
  }

  // The settings window's thread runs in a COM apartment.
  ui::ComApartment apartment;
  PrivateTemp temp;
  OwnerWindow owner;
  CapturedBoxes boxes;
};

// The tray host replaced the settings window while it was unpacking: the
// package is unpacked, but neither the tool nor any box appears.
TEST_F(FirmwareUpdateTest, AWindowStoppedWhileItUnpacksStartsNothingAndSaysNothing) {
  const fs::path package = temp.Package(L"firmware.zip");
  WritePackage(package, {{"UsbScsiCmd.exe", StandInToolBytes()}, {"fw.bin", "firmware"}});
  RecordingLauncher launcher;
  std::atomic<bool> stop{true};
  ui::ThreadStopBinding binding(stop);

  EXPECT_EQ(Update(package), FirmwareUpdateOutcome::kAbandoned);

  EXPECT_THAT(launcher.Launches(), IsEmpty());
  EXPECT_THAT(boxes.Boxes(), IsEmpty());
  EXPECT_THAT(ListTree(OnlyExtractionDirectory()), UnorderedElementsAre("UsbScsiCmd.exe", "fw.bin"));
}

TEST_F(FirmwareUpdateTest, StartsTheToolFromTheExtractionDirectoryWithNoArgumentsAndNoMessage) {
  const fs::path package = temp.Package(L"firmware.zip");
  WritePackage(package, {{"UsbScsiCmd.exe", StandInToolBytes()},
                         {"fw.bin", std::string(5000, 'f')},
                         {"sub/deeper/data.bin", "slash"},
                         {"back\\side.bin", "backslash"}});
  RecordingLauncher launcher;
  AnsweredFileDialog dialog(AnsweredFileDialog::Chosen(package));

  EXPECT_EQ(RunFirmwareUpdate(owner.Handle()), FirmwareUpdateOutcome::kToolStarted);

  EXPECT_THAT(boxes.Boxes(), IsEmpty());
  ASSERT_EQ(dialog.Requests().size(), 1u);
  EXPECT_EQ(dialog.Requests()[0].owner, owner.Handle());
  EXPECT_THAT(dialog.Requests()[0].filters,
              ElementsAre(ui::FileFilterEntry{L"Flashing Package File(*.zip)", L"*.zip"}));

  const fs::path directory = OnlyExtractionDirectory();
  EXPECT_THAT(ListTree(directory), UnorderedElementsAre("UsbScsiCmd.exe", "fw.bin", "sub/", "sub/deeper/",
                                                        "sub/deeper/data.bin", "back/", "back/side.bin"));
  EXPECT_EQ(ReadBytes(directory / L"fw.bin"), std::string(5000, 'f'));
  EXPECT_EQ(ReadBytes(directory / L"back" / L"side.bin"), "backslash");

  ASSERT_EQ(launcher.Launches().size(), 1u);
  const LaunchSeen& launch = launcher.Launches()[0];
  EXPECT_EQ(launch.cbSize, sizeof(SHELLEXECUTEINFOW));
  EXPECT_EQ(launch.fMask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS));
  EXPECT_EQ(launch.hwnd, nullptr);
  EXPECT_EQ(launch.verb, std::wstring());
  EXPECT_EQ(launch.file, (directory / kToolName).wstring());
  EXPECT_EQ(launch.parameters, std::wstring());
  EXPECT_EQ(launch.directory, directory.wstring());
  EXPECT_EQ(launch.nShow, SW_SHOWNORMAL);
  EXPECT_TRUE(launch.restZero);

  // The flow closed the process handle that the launch gave it.
  ASSERT_NE(launch.processGiven, nullptr);
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(launch.processGiven, &flags));

  const std::optional<StandInRecord> record = WaitForRecord(temp.RecordPath());
  ASSERT_TRUE(record) << "the stand-in tool wrote no record";
  EXPECT_EQ(Lower(record->workingDirectory), Lower(directory.wstring()));
  EXPECT_EQ(record->argumentCount, 1) << std::string(record->commandLine.begin(), record->commandLine.end());
  EXPECT_EQ(record->showCommand, SW_SHOWNORMAL);
}

TEST_F(FirmwareUpdateTest, CancellingTheFileDialogDoesNothingAtAll) {
  RecordingLauncher launcher;
  for (const ui::OpenFileResult& answer :
       {ui::OpenFileResult{}, ui::OpenFileResult{ui::OpenFileResult::Outcome::kFailed, {}, E_FAIL}}) {
    AnsweredFileDialog dialog(answer);
    EXPECT_EQ(RunFirmwareUpdate(owner.Handle()), FirmwareUpdateOutcome::kNotChosen);
    EXPECT_EQ(dialog.Requests().size(), 1u);
  }
  EXPECT_THAT(boxes.Boxes(), IsEmpty());
  EXPECT_THAT(ListNames(temp.Temp()), IsEmpty());
  EXPECT_THAT(launcher.Launches(), IsEmpty());
}

TEST_F(FirmwareUpdateTest, MissingOrNestedToolIsUnpackedCompletelyThenFailsWithCodeTwo) {
  struct Case {
    const char* what;
    std::vector<PackageFile> files;
    std::vector<std::string> tree;
  };
  const std::vector<Case> cases = {
      {"no tool", {{"fw.bin", "firmware"}, {"readme.txt", "read me"}}, {"fw.bin", "readme.txt"}},
      {"tool in a subdirectory",
       {{"tools/", "", true}, {"tools/UsbScsiCmd.exe", StandInToolBytes()}, {"fw.bin", "firmware"}},
       {"fw.bin", "tools/", "tools/UsbScsiCmd.exe"}},
      {"empty archive", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PrivateTemp own;
    CapturedBoxes captured;
    const fs::path package = own.Package(L"package.zip");
    WritePackage(package, c.files);
    AnsweredFileDialog dialog(AnsweredFileDialog::Chosen(package));
    // The shell shows an error box of its own before the flow's message.
    PlatformBoxDismisser shellBoxes;

    EXPECT_EQ(RunFirmwareUpdate(owner.Handle()), FirmwareUpdateOutcome::kLaunchFailed);

    ASSERT_EQ(captured.Boxes().size(), 1u);
    EXPECT_EQ(captured.Boxes()[0].text, LaunchFailure(2));
    EXPECT_EQ(captured.Boxes()[0].caption, L"Error");
    EXPECT_EQ(captured.Boxes()[0].type, static_cast<UINT>(MB_ICONERROR | MB_OK));
    EXPECT_EQ(captured.Boxes()[0].type, 16u);
    EXPECT_EQ(captured.Boxes()[0].owner, owner.Handle());

    const std::optional<fs::path> directory = SingleExtractionDirectory(own.Temp());
    ASSERT_TRUE(directory);
    EXPECT_EQ(ListTree(*directory), c.tree);
    EXPECT_FALSE(fs::exists(own.RecordPath()));
  }
}

TEST_F(FirmwareUpdateTest, FileThatIsNoZipShowsTheUnpackingMessageAndLeavesAnEmptyDirectory) {
  const fs::path notZip = temp.Package(L"not-a-package.zip");
  WriteBytes(notZip, "This is a text file that merely ends in .zip\r\n");
  RecordingLauncher launcher;

  EXPECT_EQ(Update(notZip), FirmwareUpdateOutcome::kUnpackFailed);

  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].text, L"Failed to Unzipp the Flashing Package.");
  EXPECT_EQ(boxes.Boxes()[0].caption, ui::kApplicationName);
  EXPECT_EQ(boxes.Boxes()[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(boxes.Boxes()[0].owner, owner.Handle());
  EXPECT_THAT(ListTree(OnlyExtractionDirectory()), IsEmpty());
  EXPECT_THAT(launcher.Launches(), IsEmpty());

  // A package path that names nothing ends the same way, in a new directory.
  EXPECT_EQ(Update(temp.Package(L"missing.zip")), FirmwareUpdateOutcome::kUnpackFailed);
  ASSERT_EQ(boxes.Boxes().size(), 2u);
  EXPECT_EQ(boxes.Boxes()[1].text, kUnpackFailedText);
  EXPECT_EQ(MadeInTemp().size(), 2u);
}

TEST(FirmwareUpdatePreparation, UnreservableNameShowsTheUnpackingMessageAndCreatesNothing) {
  // The temporary directory named by TMP does not exist: no unique name can
  // be reserved there.
  PrivateTemp temp(L"gone", false);
  OwnerWindow owner;
  CapturedBoxes boxes;
  RecordingLauncher launcher;
  const fs::path package = temp.Package(L"firmware.zip");
  WritePackage(package, {{"UsbScsiCmd.exe", StandInToolBytes()}});
  AnsweredFileDialog dialog(AnsweredFileDialog::Chosen(package));

  EXPECT_EQ(RunFirmwareUpdate(owner.Handle()), FirmwareUpdateOutcome::kUnpackFailed);

  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].text, kUnpackFailedText);
  EXPECT_EQ(boxes.Boxes()[0].caption, ui::kApplicationName);
  EXPECT_FALSE(fs::exists(temp.Temp()));
  EXPECT_THAT(launcher.Launches(), IsEmpty());
}

TEST_F(FirmwareUpdateTest, DamagedEntryLeavesTheOthersUnpackedAndTheToolStarted) {
  const fs::path package = temp.Package(L"damaged.zip");
  WritePackage(package, {{"first.bin", std::string(3000, 'a')},
                         {"broken.bin", std::string(3000, 'b')},
                         {"UsbScsiCmd.exe", StandInToolBytes()},
                         {"last.bin", std::string(3000, 'c')}});
  DamageEntryData(package, "broken.bin");
  RecordingLauncher launcher;

  EXPECT_EQ(Update(package), FirmwareUpdateOutcome::kToolStarted);

  EXPECT_THAT(boxes.Boxes(), IsEmpty());
  const fs::path directory = OnlyExtractionDirectory();
  EXPECT_EQ(ReadBytes(directory / L"first.bin"), std::string(3000, 'a'));
  EXPECT_EQ(ReadBytes(directory / L"last.bin"), std::string(3000, 'c'));
  EXPECT_NE(ReadBytes(directory / L"broken.bin"), std::string(3000, 'b'));
  const std::optional<StandInRecord> record = WaitForRecord(temp.RecordPath());
  ASSERT_TRUE(record);
  EXPECT_EQ(Lower(record->workingDirectory), Lower(directory.wstring()));
}

TEST_F(FirmwareUpdateTest, TwoUpdatesUnpackIntoTwoDirectoriesThatBothStay) {
  const fs::path package = temp.Package(L"firmware.zip");
  WritePackage(package, {{"UsbScsiCmd.exe", StandInToolBytes()}, {"fw.bin", "one"}});
  RecordingLauncher launcher;

  EXPECT_EQ(Update(package), FirmwareUpdateOutcome::kToolStarted);
  const std::optional<StandInRecord> first = WaitForRecord(temp.RecordPath());
  ASSERT_TRUE(first);
  fs::remove(temp.RecordPath());
  EXPECT_EQ(Update(package), FirmwareUpdateOutcome::kToolStarted);
  const std::optional<StandInRecord> second = WaitForRecord(temp.RecordPath());
  ASSERT_TRUE(second);

  EXPECT_THAT(boxes.Boxes(), IsEmpty());
  const std::vector<Made> made = MadeInTemp();
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(ListNames(temp.Temp()).size(), 4u);
  for (const Made& m : made) EXPECT_THAT(ListTree(m.directory), UnorderedElementsAre("UsbScsiCmd.exe", "fw.bin"));
  EXPECT_NE(Lower(first->workingDirectory), Lower(second->workingDirectory));
  EXPECT_THAT((std::vector<std::wstring>{Lower(first->workingDirectory), Lower(second->workingDirectory)}),
              UnorderedElementsAre(Lower(made[0].directory.wstring()), Lower(made[1].directory.wstring())));
}

TEST_F(FirmwareUpdateTest, DeclinedLaunchShowsTheCancelMessageAndOtherErrorsTheirCode) {
  const fs::path package = temp.Package(L"firmware.zip");
  WritePackage(package, {{"UsbScsiCmd.exe", StandInToolBytes()}});
  {
    RecordingLauncher declined(ERROR_CANCELLED);
    EXPECT_EQ(Update(package), FirmwareUpdateOutcome::kLaunchCancelled);
    EXPECT_EQ(declined.Launches().size(), 1u);
  }
  {
    RecordingLauncher denied(ERROR_ACCESS_DENIED);
    EXPECT_EQ(Update(package), FirmwareUpdateOutcome::kLaunchFailed);
  }
  {
    // The shell's own box has reset the last error: its code in hInstApp
    // (SE_ERR_PNF) is the one shown.
    RecordingLauncher silent(ERROR_SUCCESS, SE_ERR_PNF);
    EXPECT_EQ(Update(package), FirmwareUpdateOutcome::kLaunchFailed);
  }
  ASSERT_EQ(boxes.Boxes().size(), 3u);
  EXPECT_EQ(boxes.Boxes()[2].text, LaunchFailure(3));
  EXPECT_EQ(boxes.Boxes()[0].text, L"You've canceled the upgrade");
  EXPECT_EQ(boxes.Boxes()[0].caption, ui::kApplicationName);
  EXPECT_EQ(boxes.Boxes()[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(boxes.Boxes()[0].owner, owner.Handle());
  EXPECT_EQ(boxes.Boxes()[1].text, LaunchFailure(5));
  EXPECT_EQ(boxes.Boxes()[1].caption, L"Error");
  EXPECT_EQ(boxes.Boxes()[1].type, static_cast<UINT>(MB_ICONERROR | MB_OK));
  // Every run unpacked the tool; nothing was removed.
  const std::vector<Made> made = MadeInTemp();
  ASSERT_EQ(made.size(), 3u);
  for (const Made& m : made) EXPECT_TRUE(fs::is_regular_file(m.directory / kToolName));
}

TEST_F(FirmwareUpdateTest, PackageFileIsReleasedBeforeTheToolStarts) {
  const fs::path package = temp.Package(L"firmware.zip");
  WritePackage(package, {{"UsbScsiCmd.exe", StandInToolBytes()}});
  bool writableAtLaunch = false;
  ScopedLaunchHandler launch([&](SHELLEXECUTEINFOW&) {
    // Open refuses writers while it holds the package.
    HANDLE file = CreateFileW(package.wstring().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    writableAtLaunch = file != INVALID_HANDLE_VALUE;
    if (writableAtLaunch) CloseHandle(file);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  });

  EXPECT_EQ(Update(package), FirmwareUpdateOutcome::kLaunchFailed);
  EXPECT_TRUE(writableAtLaunch);
}

TEST_F(FirmwareUpdateTest, EntryWhosePathWouldNotFitIsSkipped) {
  // 60 characters of temporary directory, 12 of "OLK_" name: an entry name
  // of 220 characters cannot be joined within 259.
  const std::string longName = std::string(216, 'n') + ".bin";
  const fs::path package = temp.Package(L"long.zip");
  WritePackage(package, {{"before.bin", "before"},
                         {longName, "too long"},
                         {"UsbScsiCmd.exe", StandInToolBytes()},
                         {"after.bin", "after"}});
  ASSERT_GT(temp.TempPath().size() + 12 + 1 + longName.size(), 259u);
  RecordingLauncher launcher;

  EXPECT_EQ(Update(package), FirmwareUpdateOutcome::kToolStarted);

  EXPECT_THAT(boxes.Boxes(), IsEmpty());
  const fs::path directory = OnlyExtractionDirectory();
  EXPECT_THAT(ListTree(directory), UnorderedElementsAre("before.bin", "UsbScsiCmd.exe", "after.bin"));
  EXPECT_THAT(ListTree(temp.Root() / L"records"), ::testing::Each(::testing::StartsWith("standin.txt")));
  EXPECT_TRUE(WaitForRecord(temp.RecordPath()));
}

TEST(FirmwareUpdateLongTemp, ToolPathThatWouldNotFitEndsInTheLaunchFailure) {
  // A temporary directory of 240 characters: the extraction directory
  // still fits below it, the tool's path below that does not.
  PrivateTemp temp(PrivateTemp::OfLength{240});
  ASSERT_EQ(temp.TempPath().size(), 240u);
  OwnerWindow owner;
  CapturedBoxes boxes;
  RecordingLauncher launcher;
  const fs::path package = temp.Package(L"firmware.zip");
  WritePackage(package, {{"UsbScsiCmd.exe", StandInToolBytes()}, {"a", "short"}});
  AnsweredFileDialog dialog(AnsweredFileDialog::Chosen(package));

  EXPECT_EQ(RunFirmwareUpdate(owner.Handle()), FirmwareUpdateOutcome::kLaunchFailed);

  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].text, LaunchFailure(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(boxes.Boxes()[0].caption, L"Error");
  EXPECT_THAT(launcher.Launches(), IsEmpty());
  const std::optional<fs::path> directory = SingleExtractionDirectory(temp.Temp());
  ASSERT_TRUE(directory);
  EXPECT_EQ(ListTree(*directory), std::vector<std::string>{"a"});
}

}  // namespace
}  // namespace nerova::update
