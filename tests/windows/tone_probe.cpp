// A Windows program that plays a 440 Hz tone through the system's waveOut device, so that a
// test can hear whether a Windows program's sound under Wine reaches the harness's sound
// server (check_sound.sh records the sink while it plays).
//
//   kelvo-tone-probe.exe [MILLISECONDS]   (default 1000)
//
// Exits 0 once the whole tone was played, 1 with a line on stderr when the device cannot be
// opened or does not finish in time. winmm.dll is no Known DLL of Windows, so it is loaded
// from the system folder only (LOAD_LIBRARY_SEARCH_SYSTEM32) and never from beside the
// program: the program imports KERNEL32 and the C runtime alone.
#include <windows.h>
#include <mmsystem.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kFrequency = 440.0;
constexpr double kAmplitude = 12000.0;

// A function of winmm.dll by name, typed like its declaration.
template <typename T>
T Function(HMODULE module, const char* name) {
  FARPROC address = GetProcAddress(module, name);
  if (address == nullptr) {
    std::fprintf(stderr, "winmm.dll has no %s\n", name);
    std::exit(1);
  }
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(address));
}

}  // namespace

int main(int argc, char** argv) {
  const int milliseconds = argc > 1 ? std::atoi(argv[1]) : 1000;
  if (milliseconds <= 0 || milliseconds > 60000) {
    std::fprintf(stderr, "usage: %s [MILLISECONDS, 1 to 60000]\n", argv[0]);
    return 2;
  }
  HMODULE winmm = LoadLibraryExW(L"winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (winmm == nullptr) {
    std::fprintf(stderr, "cannot load winmm.dll from the system folder: error %lu\n", GetLastError());
    return 1;
  }
  auto open = Function<decltype(&waveOutOpen)>(winmm, "waveOutOpen");
  auto prepare = Function<decltype(&waveOutPrepareHeader)>(winmm, "waveOutPrepareHeader");
  auto write = Function<decltype(&waveOutWrite)>(winmm, "waveOutWrite");
  auto reset = Function<decltype(&waveOutReset)>(winmm, "waveOutReset");
  auto unprepare = Function<decltype(&waveOutUnprepareHeader)>(winmm, "waveOutUnprepareHeader");
  auto close = Function<decltype(&waveOutClose)>(winmm, "waveOutClose");

  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = kRate;
  format.wBitsPerSample = 16;
  format.nBlockAlign = 4;
  format.nAvgBytesPerSec = kRate * 4;
  HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HWAVEOUT device = nullptr;
  MMRESULT result = open(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(done), 0, CALLBACK_EVENT);
  if (result != MMSYSERR_NOERROR) {
    std::fprintf(stderr, "waveOutOpen failed: %u\n", result);
    return 1;
  }

  const int frames = static_cast<int>(static_cast<int64_t>(kRate) * milliseconds / 1000);
  std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    const auto value = static_cast<int16_t>(std::lround(kAmplitude * std::sin(2.0 * std::numbers::pi * kFrequency * i / kRate)));
    samples[2 * i] = value;
    samples[2 * i + 1] = value;
  }
  WAVEHDR header{};
  header.lpData = reinterpret_cast<LPSTR>(samples.data());
  header.dwBufferLength = static_cast<DWORD>(samples.size() * sizeof(int16_t));
  if (prepare(device, &header, sizeof header) != MMSYSERR_NOERROR ||
      write(device, &header, sizeof header) != MMSYSERR_NOERROR) {
    std::fprintf(stderr, "waveOut refused the tone\n");
    close(device);
    return 1;
  }
  // The tone's own length and ten seconds more for the device to finish it.
  const ULONGLONG deadline = GetTickCount64() + milliseconds + 10000;
  while ((header.dwFlags & WHDR_DONE) == 0 && GetTickCount64() < deadline) WaitForSingleObject(done, 100);
  const bool played = (header.dwFlags & WHDR_DONE) != 0;
  if (!played) reset(device);  // hands the buffer back, so it can be released
  unprepare(device, &header, sizeof header);
  close(device);
  CloseHandle(done);
  if (!played) {
    std::fprintf(stderr, "the device did not finish the tone in time\n");
    return 1;
  }
  std::printf("played %d ms of %.0f Hz\n", milliseconds, kFrequency);
  return 0;
}
