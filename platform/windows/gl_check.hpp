// uWindow on Windows: whether the GL a WGL context got can show the demo, from the strings
// the GL gives (vendor, renderer, version, extensions), apart from the window so that the
// judgement is tested on its own. The demo's textures are BGRA and clamped to the edge:
// GL 1.2, or GL 1.1 with the extensions that brought them. Windows' own GL 1.1 ("GDI
// Generic" by Microsoft, used where no GPU driver serves the screen) has neither.
#pragma once

#include <cstddef>
#include <string_view>

enum class TGLVerdict {
  Suitable,
  BuiltIn,  // Windows' own software GL 1.1: a driver is missing, not merely old
  TooOld,   // a driver's GL without GL 1.2's BGRA textures or edge clamping
};

// Whether the space-separated list holds the name.
inline bool NamesExtension(std::string_view list, std::string_view name) {
  while (!list.empty()) {
    const std::size_t end = list.find(' ');
    if (list.substr(0, end) == name) return true;
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return false;
}

// Whether the version string ("major.minor[.release] [vendor words]") is at least 1.2.
inline bool AtLeastGL12(std::string_view version) {
  int major = 0;
  std::size_t at = 0;
  for (; at < version.size() && version[at] >= '0' && version[at] <= '9'; ++at) major = major * 10 + (version[at] - '0');
  if (at == 0 || at >= version.size() || version[at] != '.') return false;
  ++at;
  int minor = 0;
  const std::size_t minorStart = at;
  for (; at < version.size() && version[at] >= '0' && version[at] <= '9'; ++at) minor = minor * 10 + (version[at] - '0');
  if (at == minorStart) return false;
  return major > 1 || (major == 1 && minor >= 2);
}

inline TGLVerdict JudgeGL(std::string_view vendor, std::string_view renderer, std::string_view version,
                          std::string_view extensions) {
  if (renderer == "GDI Generic" || vendor == "Microsoft Corporation") return TGLVerdict::BuiltIn;
  if (AtLeastGL12(version)) return TGLVerdict::Suitable;
  const bool bgra = NamesExtension(extensions, "GL_EXT_bgra");
  const bool edge = NamesExtension(extensions, "GL_EXT_texture_edge_clamp") ||
                    NamesExtension(extensions, "GL_SGIS_texture_edge_clamp");
  return bgra && edge ? TGLVerdict::Suitable : TGLVerdict::TooOld;
}
