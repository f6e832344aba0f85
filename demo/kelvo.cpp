// uKelvo: engine construction, resource scan, texture registry and frame loop (see kelvo.hpp).
#include "demo/kelvo.hpp"

#include <GL/gl.h>

#include <cstdio>

#include "base/fatal.hpp"
#include "base/loglines.hpp"
#include "demo/pacer.hpp"
#include "display/picturedecoder.hpp"

std::string TextureKey(std::string_view name) {
  std::string key(name.substr(0, 255));
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

std::string TTextureRegistry::Register(std::string_view resourceName, const TTexture& texture) {
  std::string key = TextureKey(resourceName.substr(std::min<std::size_t>(4, resourceName.size())));
  Pairs.emplace_back(key, texture);
  return key;
}

const TTexture* TTextureRegistry::Find(std::string_view name) const {
  std::string key = TextureKey(name);
  for (const auto& [pairKey, texture] : Pairs) {
    if (pairKey == key) return &texture;
  }
  return nullptr;
}

TTexture TTextureRegistry::Get(std::string_view name) const {
  const TTexture* texture = Find(name);
  if (texture == nullptr)
    FatalLine("[uKelvo] invalid GetTexture call: texture \"" + TextureKey(name) + "\" not found!",
              kExitTextureMissing);
  return *texture;
}

void AppendRenderer(IRendererDynArray& renderers, IRendererRef renderer) {
  renderers = renderers.Appended(std::move(renderer));
}

void DrawRenderers(const IRendererDynArray& renderers, double frameTime) {
  IRendererDynArray frame = renderers;
  for (std::size_t i = 0; i < frame.Length(); ++i) {
    IRenderer& renderer = *frame[i];
    if (renderer.GetScene() == SceneIndex) {
      renderer.Update(frameTime);
      renderer.Render();
    }
  }
}

bool IsPictureEntry(std::string_view name) { return name.substr(0, 255).starts_with(kPictureResourcePrefix); }

TKelvo::TKelvo(std::string_view deviceName) : DeviceName(deviceName.substr(0, 255)) {}

void TKelvo::Init() {
  TResourceStore store = TResourceStore::OpenSelf();
  // The pictures come last: reading the store from disk overlaps the work on the font,
  // and so does decoding the pictures, on the decoder's thread.
  store.Prefetch();
  std::vector<TResourceEntry> pictures;
  for (std::size_t i = 0; i < store.Count(); ++i) {
    if (IsPictureEntry(store.Entry(i).Name)) pictures.push_back(store.Entry(i));
  }
  TPictureDecoder decoder(std::move(pictures), MaxTextureSize());
  std::size_t picture = 0;
  for (std::size_t i = 0; i < store.Count(); ++i) {
    const TResourceEntry& entry = store.Entry(i);
    std::string_view name = entry.Name.substr(0, 255);
    WriteLine("[uKelvo] INFO: found resource \"" + std::string(name) + "\"");
    if (name == kFontResource) {
      FontAtlas = GenerateTextureAtlasBMP(entry, 180);
    } else if (name == kSongResource) {
      Song = std::make_unique<TWAV>();
      Song->LoadFromResourceLazinessHack(entry);
      TALSAConfig config = SongConfig(DeviceName, *Song);
      Audio = std::make_unique<TALSA>(config);
    } else if (IsPictureEntry(name)) {
      RegisterTexture(name, UploadPicture(name, decoder.Take(picture++)));
    }
    // Each entry is read once: its stored pages need not stay resident.
    store.Release(i);
  }
  Assert(Audio != nullptr, "no song loaded", "uKelvo", 146);
  Initialized = true;
}

void TKelvo::RegisterTexture(std::string_view name, const TTexture& texture) {
  WriteLine("[uKelvo] registered texture: " + Textures.Register(name, texture));
}

TTexture TKelvo::GetTexture(std::string_view name) { return Textures.Get(name); }

void TKelvo::RegisterRenderer(IRendererRef renderer) {
  AppendRenderer(Renderers, std::move(renderer));
  WriteLine(kRegisteredRendererLine);
}

void TKelvo::RenderFrame() {
  Display.UpdateWindowSize();
  glViewport(0, 0, Display.WindowWidth, Display.WindowHeight);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  DrawRenderers(Renderers, FrameTime);
  Display.SwapBuffers();
}

void TKelvo::Run() {
  Assert(Initialized, "kelvo not initialized", "uKelvo", 168);
  TWallClock clock;
  TFramePacer pacer(clock);
  Display.MapWindow();
  // A refusal only means the run goes on without music.
  Audio->PlayBuffer(Song->Data, true);
  auto drawFrame = [this](double frameTime) {
    FrameTime = frameTime;
    RenderFrame();
  };
  for (;;) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    TFramePacer::TPass pass = pacer.Step(drawFrame);
    if (pass.Reported) {
      std::string report = FormatFrameReport(pass.ReportedFrames) + "\r";
      std::fwrite(report.data(), 1, report.size(), stdout);
      std::fflush(stdout);
    }
    const TWindowEvent event = Display.NextEvent();
    if (event == TWindowEvent::Escape || event == TWindowEvent::CloseRequested || event == TWindowEvent::WindowGone)
      Terminate(kExitOk);
    if (pass.Finished) Terminate(kExitOk);
  }
}
