// uPCM on Windows: the song through WASAPI in shared mode, event-driven. The endpoint is the
// default render endpoint for "default", else the active one whose friendly name or id is
// the name; the stream is the song's own format, converted by the audio engine where the
// mix format differs (see pcm_format.hpp). A write waits for room in the stream's buffer and
// copies at most that much; the stream starts after its first write. What is not heard yet
// is what was written less the clock's position. An endpoint that is invalidated (unplugged,
// disabled, the audio service restarting), that leaves, or, for "default", a change of the
// default output, is a device gone; Reopen opens the same endpoint, or the new default, again.
// COM is joined to the multithreaded apartment on every thread that calls in, so the
// interfaces made on the main thread serve the worker that writes (see pcm.hpp). The stream
// is stopped and released before the process ends (see Gate).
#include "platform/pcm.hpp"

#include <audioclient.h>
#include <mmdeviceapi.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <utility>

#include "base/fatal.hpp"
#include "platform/system.hpp"
#include "platform/windows/pcm_format.hpp"
#include "platform/windows/wide.hpp"

namespace {

// {BCDE0395-E52F-467C-8E3D-C4579291692E} and PKEY_Device_FriendlyName, spelt out so that
// neither libuuid nor INITGUID tricks are needed.
constexpr CLSID kMMDeviceEnumerator = {0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
constexpr PROPERTYKEY kFriendlyName = {{0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}},
                                       14};

// The stream's buffer: ten of the engine's usual 10 ms periods.
constexpr REFERENCE_TIME kBufferDuration = 1000000;  // 100 ns units
// How long a write waits for the engine to ask for data before it calls the device stuck.
constexpr DWORD kStuckMilliseconds = 2000;

// Held by every use of the stream, and taken for good when the process ends (Terminate),
// which then stops and releases the stream open now: under Wine, a process that ends with
// its stream playing and its sound worker alive crashes in the ending (Wine's PulseAudio
// client is torn down under them) about once in twenty ends; with the stream released first,
// none in 300. The worker, when it comes to the gate again, waits there until the end. Waits
// for the engine happen outside the gate, so the end waits for one short call at most, and a
// call stuck for longer does not hold it up.
std::timed_mutex Gate;
constexpr std::chrono::milliseconds kEndWait{500};
using TInWasapi = std::lock_guard<std::timed_mutex>;

std::string Unit() { return UnitLine(kAudioUnit, ""); }

std::string HresultWords(HRESULT result) {
  switch (result) {
    case AUDCLNT_E_DEVICE_INVALIDATED: return "the audio endpoint was removed or changed";
    case AUDCLNT_E_SERVICE_NOT_RUNNING: return "the Windows audio service is not running";
    case AUDCLNT_E_RESOURCES_INVALIDATED: return "the audio endpoint's resources were invalidated";
    case AUDCLNT_E_DEVICE_IN_USE: return "the audio endpoint is in exclusive use by another program";
    case AUDCLNT_E_UNSUPPORTED_FORMAT: return "the audio engine does not take the song's format";
    case E_NOTFOUND: return "no such audio endpoint";
    default: break;
  }
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  const std::string words = ErrorWords(static_cast<DWORD>(result));
  return words.starts_with("error ") ? std::string("error ") + code : words + " (" + code + ")";
}

// The results that mean the endpoint or the audio service went away.
bool Gone(HRESULT result) {
  return result == AUDCLNT_E_DEVICE_INVALIDATED || result == AUDCLNT_E_SERVICE_NOT_RUNNING ||
         result == AUDCLNT_E_RESOURCES_INVALIDATED || result == E_NOTFOUND;
}

// Joins the calling thread to the multithreaded apartment once (a thread that is in another
// apartment already stays there; WASAPI's objects are free-threaded).
void JoinApartment() {
  thread_local const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  static_cast<void>(joined);
}

// A COM reference, released with its holder.
template <class T>
class TRef {
 public:
  TRef() = default;
  TRef(const TRef&) = delete;
  TRef& operator=(const TRef&) = delete;
  ~TRef() { Reset(); }
  void Reset() {
    if (Pointer != nullptr) Pointer->Release();
    Pointer = nullptr;
  }
  T** Out() {
    Reset();
    return &Pointer;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  T* operator->() const { return Pointer; }
  T* Get() const { return Pointer; }
  explicit operator bool() const { return Pointer != nullptr; }

 private:
  T* Pointer = nullptr;
};

// Told by the system about endpoints: the default output changing, the endpoint in use
// leaving. Its calls come on a thread of the system's; the writer reads the flags.
class TEndpointWatch final : public IMMNotificationClient {
 public:
  std::atomic<bool> DefaultChanged{false};
  std::atomic<bool> DeviceLeft{false};

  void Watch(const std::wstring& id) {
    std::lock_guard<std::mutex> lock(Mutex);
    DeviceId = id;
    DeviceLeft.store(false);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMNotificationClient)) {
      *object = static_cast<IMMNotificationClient*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++References; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --References;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override {
    if (state != DEVICE_STATE_ACTIVE && IsOurs(id)) DeviceLeft.store(true);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override {
    if (IsOurs(id)) DeviceLeft.store(true);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
    if (flow == eRender && role == eConsole) DefaultChanged.store(true);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

 private:
  bool IsOurs(LPCWSTR id) {
    std::lock_guard<std::mutex> lock(Mutex);
    return id != nullptr && DeviceId == id;
  }
  std::atomic<ULONG> References{1};
  std::mutex Mutex;
  std::wstring DeviceId;
};

class TWasapiOutput final : public IPCMOutput {
 public:
  explicit TWasapiOutput(TPCMRequest request) : Request(std::move(request)) {}
  ~TWasapiOutput() override {
    TInWasapi in(Gate);
    if (Playing == this) Playing = nullptr;
    Close();
    if (Watch != nullptr) {
      if (Enumerator) Enumerator->UnregisterEndpointNotificationCallback(Watch);
      Watch->Release();
    }
    if (Event != nullptr) CloseHandle(Event);
  }

  // Finds the endpoint and opens the stream; "" or the words of why not.
  std::string Open() {
    JoinApartment();
    TInWasapi in(Gate);
    HRESULT result = CoCreateInstance(kMMDeviceEnumerator, nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                      Enumerator.OutVoid());
    if (FAILED(result)) return HresultWords(result);
    Watch = new TEndpointWatch();
    if (FAILED(Enumerator->RegisterEndpointNotificationCallback(Watch))) {
      Watch->Release();
      Watch = nullptr;
    }
    Event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (Event == nullptr) return ErrorWords(GetLastError());
    Playing = this;
    return OpenStream();
  }

  // Run by Terminate: takes the gate for good, then stops and releases the stream open now,
  // so that none is left playing in the sound system's client when it is torn down.
  static void CloseGate() {
    JoinApartment();
    if (Gate.try_lock_for(kEndWait) && Playing != nullptr) Playing->Close();
  }

  std::uint64_t Period() const { return PeriodFrames; }

  std::uint64_t FrameBytes() const override { return std::uint64_t{Request.Channels} * 2; }

  TPCMOutcome Write(const std::uint8_t* frames, std::uint64_t count) override {
    JoinApartment();
    TPCMOutcome outcome;
    if (Watch != nullptr && FollowsDefault() && Watch->DefaultChanged.load())
      return GoneOutcome("the default audio output changed");
    if (Watch != nullptr && Watch->DeviceLeft.load()) return GoneOutcome("the audio endpoint left");
    UINT32 room = 0;
    for (;;) {
      {
        TInWasapi in(Gate);
        if (!Client) return GoneOutcome("the audio endpoint is closed");
        UINT32 padding = 0;
        const HRESULT result = Client->GetCurrentPadding(&padding);
        if (FAILED(result)) return Failure(result);
        room = BufferFrames - std::min(padding, BufferFrames);
        if (room > 0) break;
        // A full buffer that does not play yet never empties.
        if (!Started) {
          if (const HRESULT started = Client->Start(); FAILED(started)) return Failure(started);
          Started = true;
        }
      }
      if (WaitForSingleObject(Event, kStuckMilliseconds) == WAIT_TIMEOUT) {
        outcome.Result = TPCMResult::Failed;
        outcome.Error = "the audio engine took no data for two seconds";
        return outcome;
      }
    }
    const auto taken = static_cast<UINT32>(std::min<std::uint64_t>(count, room));
    if (taken == 0) return outcome;
    TInWasapi in(Gate);
    BYTE* buffer = nullptr;
    if (const HRESULT result = Render->GetBuffer(taken, &buffer); FAILED(result)) return Failure(result);
    std::memcpy(buffer, frames, static_cast<std::size_t>(taken * FrameBytes()));
    if (const HRESULT result = Render->ReleaseBuffer(taken, 0); FAILED(result)) return Failure(result);
    Written += taken;
    if (!Started) {
      if (const HRESULT started = Client->Start(); FAILED(started)) return Failure(started);
      Started = true;
    }
    outcome.Frames = taken;
    return outcome;
  }

  // Shared-mode streams never report an underrun or a suspension (the engine plays silence
  // meanwhile); these serve the player's contract all the same.
  std::optional<std::string> Restart() override {
    TInWasapi in(Gate);
    if (!Client) return "the audio endpoint is closed";
    Client->Stop();
    Client->Reset();
    Started = false;
    Written = 0;
    return std::nullopt;
  }
  bool Resume() override {
    TInWasapi in(Gate);
    return static_cast<bool>(Client);
  }
  std::string SuspendedWords() const override { return "the audio stream was suspended"; }
  std::string UnderrunWords() const override { return "the audio stream ran dry"; }
  void Recover() override { static_cast<void>(Restart()); }

  std::optional<std::int64_t> Delay() override {
    TInWasapi in(Gate);
    if (!Clock || Frequency == 0) return std::nullopt;
    UINT64 position = 0;
    if (FAILED(Clock->GetPosition(&position, nullptr))) return std::nullopt;
    // Heard frames at the song's rate: whole seconds and the rest apart, so nothing overflows.
    const std::uint64_t heard =
        position / Frequency * Request.Rate + position % Frequency * Request.Rate / Frequency;
    return static_cast<std::int64_t>(Written) - static_cast<std::int64_t>(std::min(heard, Written));
  }

  std::optional<std::string> Reopen(std::uint64_t& periodFrames) override {
    JoinApartment();
    TInWasapi in(Gate);
    Close();
    if (Watch != nullptr && FollowsDefault()) Watch->DefaultChanged.store(false);
    const std::string failure = OpenStream();
    if (!failure.empty()) {
      Close();  // a stream half set up is no stream: writes say the device is gone
      return failure;
    }
    periodFrames = PeriodFrames;
    return std::nullopt;
  }

 private:
  bool FollowsDefault() const { return Request.Device == "default"; }

  TPCMOutcome GoneOutcome(std::string words) {
    TPCMOutcome outcome;
    outcome.Result = TPCMResult::DeviceGone;
    outcome.Error = std::move(words);
    return outcome;
  }
  TPCMOutcome Failure(HRESULT result) {
    if (Gone(result)) return GoneOutcome(HresultWords(result));
    TPCMOutcome outcome;
    outcome.Result = TPCMResult::Failed;
    outcome.Error = HresultWords(result);
    return outcome;
  }

  void Close() {
    if (Client && Started) Client->Stop();
    Clock.Reset();
    Render.Reset();
    Client.Reset();
    Started = false;
    Written = 0;
  }

  // The endpoint the request names: the default output, or the active endpoint whose id or
  // friendly name it is.
  std::string FindEndpoint(TRef<IMMDevice>& device) {
    if (FollowsDefault()) {
      const HRESULT result = Enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.Out());
      return FAILED(result) ? HresultWords(result) : std::string();
    }
    const std::wstring wanted = WideFromUtf8(Request.Device);
    TRef<IMMDeviceCollection> endpoints;
    HRESULT result = Enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, endpoints.Out());
    if (FAILED(result)) return HresultWords(result);
    UINT count = 0;
    endpoints->GetCount(&count);
    for (UINT i = 0; i < count; ++i) {
      TRef<IMMDevice> candidate;
      if (FAILED(endpoints->Item(i, candidate.Out()))) continue;
      LPWSTR id = nullptr;
      bool match = false;
      if (SUCCEEDED(candidate->GetId(&id)) && id != nullptr) {
        match = wanted == id;
        CoTaskMemFree(id);
      }
      TRef<IPropertyStore> properties;
      if (!match && SUCCEEDED(candidate->OpenPropertyStore(STGM_READ, properties.Out()))) {
        PROPVARIANT name;
        PropVariantInit(&name);
        if (SUCCEEDED(properties->GetValue(kFriendlyName, &name)) && name.vt == VT_LPWSTR && name.pwszVal != nullptr)
          match = wanted == name.pwszVal;
        PropVariantClear(&name);
      }
      if (match) {
        *device.Out() = candidate.Get();
        candidate.Get()->AddRef();
        return {};
      }
    }
    return "no active audio output of that name or id";
  }

  std::string OpenStream() {
    TRef<IMMDevice> device;
    if (std::string failure = FindEndpoint(device); !failure.empty()) return failure;
    LPWSTR id = nullptr;
    if (SUCCEEDED(device->GetId(&id)) && id != nullptr) {
      if (Watch != nullptr) Watch->Watch(id);
      CoTaskMemFree(id);
    }
    HRESULT result = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, Client.OutVoid());
    if (FAILED(result)) return HresultWords(result);
    WAVEFORMATEX* mix = nullptr;
    result = Client->GetMixFormat(&mix);
    if (FAILED(result) || mix == nullptr) return HresultWords(result);
    const TSharedStream stream = SharedStreamFor(Request.Rate, Request.Channels, *mix);
    CoTaskMemFree(mix);
    result = Client->Initialize(AUDCLNT_SHAREMODE_SHARED, stream.Flags, kBufferDuration, 0,
                                reinterpret_cast<const WAVEFORMATEX*>(&stream.Format), nullptr);
    if (FAILED(result)) return HresultWords(result);
    if (FAILED(result = Client->SetEventHandle(Event))) return HresultWords(result);
    if (FAILED(result = Client->GetBufferSize(&BufferFrames))) return HresultWords(result);
    REFERENCE_TIME period = 0;
    if (FAILED(result = Client->GetDevicePeriod(&period, nullptr))) return HresultWords(result);
    // The engine's period in the song's frames (a tenth of the buffer where it says none).
    PeriodFrames = period > 0 ? static_cast<std::uint64_t>(period) * Request.Rate / 10000000 : BufferFrames / 10;
    PeriodFrames = std::clamp<std::uint64_t>(PeriodFrames, 1, BufferFrames);
    if (FAILED(result = Client->GetService(__uuidof(IAudioRenderClient), Render.OutVoid())))
      return HresultWords(result);
    if (FAILED(result = Client->GetService(__uuidof(IAudioClock), Clock.OutVoid()))) return HresultWords(result);
    UINT64 frequency = 0;
    if (FAILED(result = Clock->GetFrequency(&frequency))) return HresultWords(result);
    Frequency = frequency;
    return {};
  }

  TPCMRequest Request;
  TRef<IMMDeviceEnumerator> Enumerator;
  TEndpointWatch* Watch = nullptr;
  HANDLE Event = nullptr;
  TRef<IAudioClient> Client;
  TRef<IAudioRenderClient> Render;
  TRef<IAudioClock> Clock;
  UINT32 BufferFrames = 0;
  std::uint64_t PeriodFrames = 0;
  std::uint64_t Frequency = 0;
  std::uint64_t Written = 0;  // frames written to this stream
  bool Started = false;
  static inline TWasapiOutput* Playing = nullptr;  // the output open now (under the gate)
};

}  // namespace

bool MixIsSongFormat(const WAVEFORMATEX& mix, unsigned int rate, unsigned int channels) {
  if (mix.nSamplesPerSec != rate || mix.nChannels != channels || mix.wBitsPerSample != 16) return false;
  if (mix.wFormatTag == WAVE_FORMAT_PCM) return true;
  if (mix.wFormatTag != WAVE_FORMAT_EXTENSIBLE || mix.cbSize < 22) return false;
  const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(mix);
  return extensible.SubFormat == kSubtypePcm && extensible.Samples.wValidBitsPerSample == 16;
}

TSharedStream SharedStreamFor(unsigned int rate, unsigned int channels, const WAVEFORMATEX& mix) {
  TSharedStream stream;
  WAVEFORMATEXTENSIBLE& format = stream.Format;
  format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  format.Format.nChannels = static_cast<WORD>(channels);
  format.Format.nSamplesPerSec = rate;
  format.Format.wBitsPerSample = 16;
  format.Format.nBlockAlign = static_cast<WORD>(channels * 2);
  format.Format.nAvgBytesPerSec = rate * channels * 2;
  format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  format.Samples.wValidBitsPerSample = 16;
  format.dwChannelMask = channels == 1   ? SPEAKER_FRONT_CENTER
                         : channels == 2 ? SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT
                                         : 0;  // no positions: the engine maps them in order
  format.SubFormat = kSubtypePcm;
  stream.Flags = kStreamFlagsEventCallback;
  if (!MixIsSongFormat(mix, rate, channels)) stream.Flags |= kStreamFlagsAutoConvertPcm | kStreamFlagsSrcDefaultQuality;
  return stream;
}

TPCMDevice OpenPCMDevice(const TPCMRequest& request, bool /*announce: the engine converts to any rate*/) {
  SetBeforeTerminate(&TWasapiOutput::CloseGate);
  TPCMDevice device;
  auto output = std::make_unique<TWasapiOutput>(request);
  if (std::string failure = output->Open(); !failure.empty()) {
    device.Failure = Unit() + "ERROR: can't open PCM Device \"" + request.Device + "\": " + failure;
    return device;
  }
  device.Rate = request.Rate;
  device.PeriodFrames = output->Period();
  device.Output = std::move(output);
  return device;
}

// WAVE_FORMAT_PCM: the tag of integer PCM, here always 16-bit little-endian.
std::int32_t PCMFormatCode() { return 1; }

std::string PCMFormatName() { return "WAVE_FORMAT_PCM_S16LE"; }
