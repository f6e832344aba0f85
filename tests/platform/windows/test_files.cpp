// The Windows side of the executable's image and the temporary files: UTF-8 paths with
// letters outside ASCII reach the system intact, a temporary file there reads back through
// its handle and is gone after Close and after its process is killed (and so is a private
// folder made for one), what stands at the
// name is cleared (a directory is refused), a second run beside the first is sent
// elsewhere rather than failing, and the file's name is taken away through a handle of its
// own, so that it leaves the folder at once where the system offers POSIX deletion.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/facts.hpp"
#include "platform/image.hpp"
#include "platform/tempfile.hpp"
#include "platform/windows/tempfile_steps.hpp"
#include "platform/windows/wide.hpp"

namespace {

// "Åsa\Démo party" under the user's temporary folder, made fresh for the test.
class PartyFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temporary[MAX_PATH + 1];
    ASSERT_GT(GetTempPathW(MAX_PATH + 1, temporary), 0u);
    // Wine reuses process ids: the time makes the name new whatever an earlier run left.
    Root = DisplayPath(temporary) + "kelvo-test-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount64()) + "-\xC3\x85sa";
    Folder = Root + "\\D\xC3\xA9mo party\\";
    ASSERT_TRUE(CreateDirectoryW(SystemPath(Root).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(SystemPath(Folder).c_str(), nullptr));
  }
  void TearDown() override {
    RemoveDirectoryW(SystemPath(Folder + "in the way").c_str());
    RemoveDirectoryW(SystemPath(Folder).c_str());
    RemoveDirectoryW(SystemPath(Root).c_str());
  }
  static bool Exists(const std::string& path) {
    return GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  std::string Root;
  std::string Folder;
};

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

// A small file's whole text, written and read through wide paths.
bool WriteNote(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
  CloseHandle(file);
  return ok && written == text.size();
}
std::string ReadNote(const std::string& path) {
  HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  char buffer[4096];
  DWORD read = 0;
  ReadFile(file, buffer, sizeof buffer, &read, nullptr);
  CloseHandle(file);
  return std::string(buffer, read);
}

// Wine's name of a file for the Unix side, or null on Windows.
const char* UnixName(const std::string& path) {
  using TUnixName = char*(CDECL*)(LPCWSTR);
  auto unixName = reinterpret_cast<TUnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  return unixName != nullptr ? unixName(SystemPath(path).c_str()) : nullptr;
}

bool Listed(const std::string& path) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(SystemPath(path).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

// Under Wine: runs a program of the Unix side (Wine starts those too) and waits until the
// name is listed or not, as wanted (Wine may say such a program ended before it has).
bool RunUnix(const std::wstring& command, const std::string& path, bool listed) {
  std::wstring line = command;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
    return false;
  WaitForSingleObject(child.hProcess, 10000);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  for (int tenths = 0; tenths < 100; ++tenths) {
    if (Listed(path) == listed) return true;
    Sleep(100);
  }
  return false;
}

std::wstring Quoted(const char* text) { return L"\"" + WideFromUtf8(text) + L"\""; }

// A symbolic link at path leading to target: CreateSymbolicLinkW on Windows (where the user
// may make links), and under Wine, whose CreateSymbolicLinkW only pretends, a Unix link made
// by the system's ln.
bool MakeLink(const std::string& path, const std::string& target) {
  const char* linkUnix = UnixName(path);
  if (linkUnix == nullptr) {
    return CreateSymbolicLinkW(SystemPath(path).c_str(), SystemPath(target).c_str(),
                               SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
  }
  const std::wstring link = Quoted(linkUnix);
  const char* targetUnix = UnixName(target);
  return targetUnix != nullptr && RunUnix(L"Z:\\bin\\ln -s " + Quoted(targetUnix) + L" " + link, path, true);
}

// Removes the link itself (Wine's DeleteFileW would follow it).
void RemoveLink(const std::string& path) {
  if (const char* linkUnix = UnixName(path); linkUnix != nullptr) {
    RunUnix(L"Z:\\bin\\rm -f " + Quoted(linkUnix), path, false);
  } else {
    DeleteFileW(SystemPath(path).c_str());
  }
}

TEST(WidePaths, SurviveTheRoundTripAndLongPathsGetThePrefix) {
  const std::string name = "C:\\Users\\\xC3\x85sa\\D\xC3\xA9mo party\\tessic.exe";
  EXPECT_EQ(WideFromUtf8(name), L"C:\\Users\\\u00C5sa\\D\u00E9mo party\\tessic.exe");
  EXPECT_EQ(Utf8FromWide(WideFromUtf8(name)), name);
  EXPECT_EQ(SystemPath("C:/demo/x.ttf"), L"C:\\demo\\x.ttf");
  // A byte that is not UTF-8 is replaced, not dropped.
  EXPECT_EQ(WideFromUtf8("a\xFF" "b"), L"a\uFFFDb");
  const std::string deep = "C:\\" + std::string(300, 'x') + "\\f";
  EXPECT_EQ(SystemPath(deep), L"\\\\?\\" + WideFromUtf8(deep));
  EXPECT_EQ(DisplayPath(SystemPath(deep)), deep);
  EXPECT_EQ(DisplayPath(L"\\\\?\\UNC\\server\\share\\x"), "\\\\server\\share\\x");
  EXPECT_EQ(FolderPartLength("C:\\a/b\\tessic.exe"), 7u);
  EXPECT_EQ(FolderPartLength("tessic.exe"), 0u);
  EXPECT_EQ(ErrorWords(ERROR_ACCESS_DENIED).back() != '.', true);
  // A device named outside every code page reaches the program whole, quotes grouping.
  const std::vector<std::string> words = {"tessic.exe", "--device", "Kopfh\xC3\xB6rer (\xC3\x85sa\xE2\x80\x99s \xCE\xA9)"};
  EXPECT_EQ(Utf8Arguments(L"tessic.exe --device \"Kopfh\u00F6rer (\u00C5sa\u2019s \u03A9)\""), words);
}

TEST(WidePaths, ExecutablePathNamesThisProgramAndMapsIt) {
  const std::string path = ExecutablePath();
  EXPECT_TRUE(path.ends_with(".exe")) << path;
  std::string error;
  auto self = TMappedFile::OpenSelf(error);
  ASSERT_TRUE(self) << error;
  ASSERT_GT(self->Bytes().size(), 2u);
  EXPECT_EQ(self->Bytes()[0], 'M');
  EXPECT_EQ(self->Bytes()[1], 'Z');
  self->Prefetch(self->Bytes());
  self->Release(self->Bytes());
  EXPECT_EQ(self->Bytes()[1], 'Z');  // released pages are read again from the file
  EXPECT_FALSE(TMappedFile::Open(path + ".missing", error));
  EXPECT_TRUE(error.starts_with("cannot open " + path + ".missing: ")) << error;
}

TEST_F(PartyFolder, TemporaryFileReadsBackThroughItsHandleAndGoesOnClose) {
  const std::string path = Folder + std::string(kTemporaryFontName);
  // A stale file (read-only, as an unpacked archive may leave it) is cleared first.
  {
    HANDLE stale = CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_READONLY, nullptr);
    ASSERT_NE(stale, INVALID_HANDLE_VALUE);
    CloseHandle(stale);
  }
  TPlatformFile file;
  const auto attempt = file.Create(path);
  ASSERT_EQ(attempt.Result, TPlatformFile::TResult::Created) << attempt.Error;
  // Where the file system offers POSIX deletion (NTFS on Windows 10 and later) the name is
  // gone already and the file still reads and writes below; Wine keeps names until the
  // last handle closes.
  const bool nameless = !Exists(path);
  const auto bytes = Pattern(300000);
  std::string error;
  ASSERT_TRUE(file.Write(bytes, error)) << error;
  ASSERT_TRUE(file.Write(std::span(bytes).first(10), error)) << error;
  EXPECT_EQ(file.Size(), bytes.size() + 10);
  std::vector<std::uint8_t> back(bytes.size());
  EXPECT_EQ(file.ReadAt(0, back.data(), back.size()), bytes.size());
  EXPECT_EQ(back, bytes);
  std::uint8_t tail[32];
  EXPECT_EQ(file.ReadAt(bytes.size(), tail, sizeof tail), 10u);
  EXPECT_EQ(tail[9], bytes[9]);
  // Nobody else can open it meanwhile.
  HANDLE other = CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);

  // A second run beside the first gets its own file or is sent elsewhere; it never fails
  // and never takes the first one's bytes away. Where the first one's name is gone, it
  // gets its own file.
  TPlatformFile second;
  const auto again = second.Create(path);
  EXPECT_TRUE(again.Result == TPlatformFile::TResult::Created || again.Result == TPlatformFile::TResult::TryElsewhere)
      << again.Error;
  if (nameless) {
    EXPECT_EQ(again.Result, TPlatformFile::TResult::Created) << again.Error;
  }
  EXPECT_EQ(file.ReadAt(0, back.data(), back.size()), bytes.size());
  EXPECT_EQ(back, bytes);
  second.Close();

  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(Exists(path));
  file.Close();  // later calls do nothing
  EXPECT_EQ(file.ReadAt(0, back.data(), 1), 0u);

  ASSERT_TRUE(CreateDirectoryW(SystemPath(Folder + "in the way").c_str(), nullptr));
  EXPECT_EQ(file.Create(Folder + "in the way").Result, TPlatformFile::TResult::Directory);
  EXPECT_EQ(StepAfterWindowsError(ERROR_SHARING_VIOLATION), TTempFileStep::TryElsewhere);
  EXPECT_EQ(StepAfterWindowsError(ERROR_WRITE_PROTECT), TTempFileStep::TryElsewhere);
  EXPECT_EQ(StepAfterWindowsError(ERROR_FILE_EXISTS), TTempFileStep::Retry);
  EXPECT_EQ(StepAfterWindowsError(ERROR_INVALID_NAME), TTempFileStep::Fatal);
}

// The calls of CreateNamelessFile, recorded: handle 1 is the data handle, 2 the second one.
struct TRecordedCalls {
  using THandle = int;
  bool DataFails = false;
  bool NameFails = false;
  bool Same = true;
  std::string Calls;
  static int Invalid() { return -1; }
  int CreateData() {
    Calls += "data ";
    return DataFails ? -1 : 1;
  }
  int OpenForDeletion() {
    Calls += "name ";
    return NameFails ? -1 : 2;
  }
  bool SameFile(int data, int name) {
    Calls += "same(" + std::to_string(data) + "," + std::to_string(name) + ") ";
    return Same;
  }
  void MarkPosixDelete(int handle) { Calls += "mark(" + std::to_string(handle) + ") "; }
  void Close(int handle) { Calls += "close(" + std::to_string(handle) + ") "; }
};

// Windows removes a POSIX-marked name only when the marked handle closes: the mark goes on a
// second handle, checked to be the same file, which is closed at once; the data handle is
// never marked nor closed. Wine offers no POSIX deletion, so this order is tested here.
TEST(NamelessFile, TheMarkGoesOnASecondHandleThatIsClosedAndTheDataHandleStays) {
  TRecordedCalls calls;
  EXPECT_EQ(CreateNamelessFile(calls), 1);
  EXPECT_EQ(calls.Calls, "data name same(1,2) mark(2) close(2) ");
  TRecordedCalls replaced;
  replaced.Same = false;
  EXPECT_EQ(CreateNamelessFile(replaced), 1);
  EXPECT_EQ(replaced.Calls, "data name same(1,2) close(2) ");  // another file at the name is left alone
  TRecordedCalls unopened;
  unopened.NameFails = true;
  EXPECT_EQ(CreateNamelessFile(unopened), 1);
  EXPECT_EQ(unopened.Calls, "data name ");  // the name goes with the data handle
  TRecordedCalls failed;
  failed.DataFails = true;
  EXPECT_EQ(CreateNamelessFile(failed), -1);
  EXPECT_EQ(failed.Calls, "data ");
}

// A variable of the environment in UTF-8 (getenv would give the ANSI code page's bytes).
std::string Environment(const wchar_t* name) {
  wchar_t value[4096];
  const DWORD length = GetEnvironmentVariableW(name, value, 4096);
  return length > 0 && length < 4096 ? Utf8FromWide(std::wstring_view(value, length)) : std::string();
}

// A link at the name to a file of the user's: the link may go, the file it leads to stays
// as it was (Wine opened such a link as its target and the target was deleted).
TEST_F(PartyFolder, ALinkAtTheNameIsNeverFollowed) {
  const std::string target = Root + "\\the user's own.txt";
  ASSERT_TRUE(WriteNote(target, "keep"));
  const std::string path = Folder + std::string(kTemporaryFontName);
  if (!MakeLink(path, target)) {
    DeleteFileW(SystemPath(target).c_str());
    GTEST_SKIP() << "no symbolic link can be made here";
  }
  TPlatformFile file;
  const auto attempt = file.Create(path);
  EXPECT_TRUE(attempt.Result == TPlatformFile::TResult::Created ||
              attempt.Result == TPlatformFile::TResult::TryElsewhere)
      << attempt.Error;
  std::string error;
  if (file.IsOpen()) {
    EXPECT_TRUE(file.Write(Pattern(16), error)) << error;
  }
  file.Close();
  EXPECT_EQ(ReadNote(target), "keep");
  RemoveLink(path);
  DeleteFileW(SystemPath(target).c_str());
}

// The child half of the next test: makes the file beside it and one in a fresh private
// folder (noting that folder's path), says so, and waits to be killed.
TEST(TemporaryFileChild, HoldsTheFileUntilKilled) {
  const std::string path = Environment(L"KELVO_TEST_TEMP_PATH");
  const std::string ready = Environment(L"KELVO_TEST_READY_EVENT");
  const std::string note = Environment(L"KELVO_TEST_NOTE");
  if (path.empty() || ready.empty() || note.empty()) GTEST_SKIP() << "run by TemporaryFileGoesWhenItsProcessIsKilled";
  TPlatformFile file;
  const auto attempt = file.Create(path);
  ASSERT_EQ(attempt.Result, TPlatformFile::TResult::Created) << attempt.Error;
  std::string error;
  ASSERT_TRUE(file.Write(Pattern(4096), error));
  TPlatformFile elsewhere;
  std::string fresh;
  ASSERT_TRUE(PlaceInPrivateFolder(
      [&](const std::string& folder, std::string&) {
        if (fresh.empty() && folder.find("ombrel-tessic-kelvo-") == std::string::npos) return false;  // not %TEMP%
        fresh = folder;
        return elsewhere.Create(folder + std::string(kTemporaryFontName)).Result ==
               TPlatformFile::TResult::Created;
      },
      error))
      << error;
  ASSERT_TRUE(elsewhere.Write(Pattern(4096), error));
  ASSERT_TRUE(WriteNote(note, fresh));
  HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, WideFromUtf8(ready).c_str());
  ASSERT_NE(event, nullptr);
  SetEvent(event);
  Sleep(INFINITE);
}

TEST_F(PartyFolder, TemporaryFileGoesWhenItsProcessIsKilled) {
  const std::string path = Folder + std::string(kTemporarySongFileName);
  const std::string ready = "kelvo-test-ready-" + std::to_string(GetCurrentProcessId());
  const std::string note = Root + "\\private folder.txt";
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, WideFromUtf8(ready).c_str());
  ASSERT_NE(event, nullptr);
  SetEnvironmentVariableW(L"KELVO_TEST_TEMP_PATH", WideFromUtf8(path).c_str());
  SetEnvironmentVariableW(L"KELVO_TEST_READY_EVENT", WideFromUtf8(ready).c_str());
  SetEnvironmentVariableW(L"KELVO_TEST_NOTE", WideFromUtf8(note).c_str());
  std::wstring command = L"\"" + WideFromUtf8(ExecutablePath()) +
                         L"\" --gtest_filter=TemporaryFileChild.HoldsTheFileUntilKilled";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
  SetEnvironmentVariableW(L"KELVO_TEST_TEMP_PATH", nullptr);
  SetEnvironmentVariableW(L"KELVO_TEST_READY_EVENT", nullptr);
  SetEnvironmentVariableW(L"KELVO_TEST_NOTE", nullptr);
  HANDLE both[] = {event, child.hProcess};
  ASSERT_EQ(WaitForMultipleObjects(2, both, FALSE, 30000), WAIT_OBJECT_0) << "the child did not make its file";
  TerminateProcess(child.hProcess, 9);
  WaitForSingleObject(child.hProcess, INFINITE);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  CloseHandle(event);
  EXPECT_FALSE(Exists(path));
  // Nothing at all is left in the folder, nor of the private folder made for the other file.
  EXPECT_TRUE(RemoveDirectoryW(SystemPath(Folder).c_str()));
  const std::string fresh = ReadNote(note);
  DeleteFileW(SystemPath(note).c_str());
  ASSERT_FALSE(fresh.empty());
  EXPECT_FALSE(Exists(fresh)) << fresh;
}

TEST(PrivateFolder, IsTheTemporaryFolderThenAFreshOneThatGoes) {
  wchar_t temporary[MAX_PATH + 1];
  ASSERT_GT(GetTempPathW(MAX_PATH + 1, temporary), 0u);
  std::vector<std::string> offered;
  TPlatformFile file;
  std::string failure;
  const bool placed = PlaceInPrivateFolder(
      [&](const std::string& folder, std::string& why) {
        offered.push_back(folder);
        if (offered.size() == 1) {
          why = folder + ": refused by the test";
          return false;
        }
        return file.Create(folder + std::string(kTemporaryFontName)).Result == TPlatformFile::TResult::Created;
      },
      failure);
  ASSERT_TRUE(placed) << failure;
  ASSERT_EQ(offered.size(), 2u);
  EXPECT_EQ(offered[0], DisplayPath(temporary));
  EXPECT_TRUE(offered[1].starts_with(offered[0] + "ombrel-tessic-kelvo-")) << offered[1];
  EXPECT_EQ(offered[1].back(), '\\');
  // Gone already where the file's name went at once, while the file is still open.
  const bool goneAtOnce = GetFileAttributesW(SystemPath(offered[1]).c_str()) == INVALID_FILE_ATTRIBUTES;
  const bool nameless = GetFileAttributesW(SystemPath(offered[1] + "ombrel-tessic-kelvo-temp-font.ttf").c_str()) ==
                        INVALID_FILE_ATTRIBUTES;
  EXPECT_EQ(goneAtOnce, nameless);
  file.Close();
  // Else it goes with this process (the file's name stood until Close).
  const bool gone = GetFileAttributesW(SystemPath(offered[1]).c_str()) == INVALID_FILE_ATTRIBUTES;
  if (!gone) {
    EXPECT_TRUE(RemoveDirectoryW(SystemPath(offered[1]).c_str()));
  }

  offered.clear();
  EXPECT_FALSE(PlaceInPrivateFolder(
      [&](const std::string& folder, std::string& why) {
        offered.push_back(folder);
        why = folder + ": no";
        return false;
      },
      failure));
  EXPECT_EQ(failure, offered.back() + ": no");
  EXPECT_EQ(GetFileAttributesW(SystemPath(offered.back()).c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
