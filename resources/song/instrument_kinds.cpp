// The instrument kinds and their parameter defaults (see instrument_kinds.hpp).
#include "resources/song/instrument_kinds.hpp"

#include <array>

namespace song {
namespace {

constexpr std::array kCommon = {
    TParamDefault{"gain", 0.0}, TParamDefault{"pan", 0.0}, TParamDefault{"reverb", 0.0},
    TParamDefault{"delay", 0.0}, TParamDefault{"duck", 0.0}, TParamDefault{"humanize", 0.0},
};

constexpr std::array kPad = {
    TParamDefault{"attack", 0.6},     TParamDefault{"decay", 1.5},  TParamDefault{"sustain", 0.8},
    TParamDefault{"release", 1.2},    TParamDefault{"cutoff", 2200}, TParamDefault{"resonance", 0.1},
    TParamDefault{"voices", 5},       TParamDefault{"detune", 14},   TParamDefault{"width", 0.8},
    TParamDefault{"envamount", 0.0},  TParamDefault{"vibrato", 0.0},
};
constexpr std::array kPluck = {
    TParamDefault{"attack", 0.002}, TParamDefault{"decay", 0.35},   TParamDefault{"sustain", 0.0},
    TParamDefault{"release", 0.25}, TParamDefault{"cutoff", 900},   TParamDefault{"envamount", 3.0},
    TParamDefault{"resonance", 0.2}, TParamDefault{"detune", 7},    TParamDefault{"width", 0.5},
    TParamDefault{"pulse", 0.3},
};
constexpr std::array kKeys = {
    TParamDefault{"attack", 0.002}, TParamDefault{"decay", 1.6},  TParamDefault{"release", 0.4},
    TParamDefault{"index", 2.2},    TParamDefault{"ratio", 1.0},  TParamDefault{"tremolo", 0.15},
    TParamDefault{"width", 0.4},
};
constexpr std::array kBass = {
    TParamDefault{"attack", 0.003}, TParamDefault{"decay", 0.4},      TParamDefault{"sustain", 0.6},
    TParamDefault{"release", 0.08}, TParamDefault{"cutoff", 500},     TParamDefault{"envamount", 2.0},
    TParamDefault{"resonance", 0.15}, TParamDefault{"sub", 0.6},      TParamDefault{"drive", 1.5},
};
constexpr std::array kLead = {
    TParamDefault{"attack", 0.03},   TParamDefault{"decay", 0.5},         TParamDefault{"sustain", 0.8},
    TParamDefault{"release", 0.25},  TParamDefault{"cutoff", 2600},       TParamDefault{"resonance", 0.15},
    TParamDefault{"detune", 8},      TParamDefault{"vibrato", 0.2},       TParamDefault{"vibratorate", 5.2},
    TParamDefault{"vibratodelay", 0.3}, TParamDefault{"glide", 0.04},     TParamDefault{"pulse", 0.0},
    TParamDefault{"width", 0.3},
};
constexpr std::array kBell = {
    TParamDefault{"decay", 2.5}, TParamDefault{"release", 0.8}, TParamDefault{"ratio", 3.5},
    TParamDefault{"index", 1.8}, TParamDefault{"width", 0.3},
};
constexpr std::array kWaves = {
    TParamDefault{"attack", 2.5}, TParamDefault{"release", 3.0}, TParamDefault{"cutoff", 1000},
    TParamDefault{"width", 1.0},
};
constexpr std::array kRiser = {
    TParamDefault{"from", 300}, TParamDefault{"to", 6000}, TParamDefault{"resonance", 0.5},
    TParamDefault{"width", 1.0},
};
constexpr std::array kKick = {
    TParamDefault{"decay", 0.35}, TParamDefault{"pitch", 48}, TParamDefault{"sweep", 140},
    TParamDefault{"click", 0.5},  TParamDefault{"drive", 1.5},
};
constexpr std::array kSnare = {
    TParamDefault{"decay", 0.18}, TParamDefault{"tone", 190}, TParamDefault{"noise", 0.7},
    TParamDefault{"tonedecay", 0.07},
};
constexpr std::array kRim = {TParamDefault{"decay", 0.03}, TParamDefault{"tone", 1700}};
constexpr std::array kHat = {TParamDefault{"decay", 0.05}, TParamDefault{"cutoff", 7500}};
constexpr std::array kOpenHat = {TParamDefault{"decay", 0.35}, TParamDefault{"cutoff", 7000}};
constexpr std::array kClap = {TParamDefault{"decay", 0.2}, TParamDefault{"tone", 1300}};
constexpr std::array kShaker = {TParamDefault{"decay", 0.07}, TParamDefault{"cutoff", 6000}};
constexpr std::array kCrash = {TParamDefault{"decay", 2.2}, TParamDefault{"cutoff", 4000}};

const std::array kKinds = {
    TKindInfo{"pad", EKind::Pad, false, kPad},
    TKindInfo{"pluck", EKind::Pluck, false, kPluck},
    TKindInfo{"keys", EKind::Keys, false, kKeys},
    TKindInfo{"bass", EKind::Bass, false, kBass},
    TKindInfo{"lead", EKind::Lead, false, kLead},
    TKindInfo{"bell", EKind::Bell, false, kBell},
    TKindInfo{"waves", EKind::Waves, false, kWaves},
    TKindInfo{"riser", EKind::Riser, false, kRiser},
    TKindInfo{"kick", EKind::Kick, true, kKick},
    TKindInfo{"snare", EKind::Snare, true, kSnare},
    TKindInfo{"rim", EKind::Rim, true, kRim},
    TKindInfo{"hat", EKind::Hat, true, kHat},
    TKindInfo{"openhat", EKind::OpenHat, true, kOpenHat},
    TKindInfo{"clap", EKind::Clap, true, kClap},
    TKindInfo{"shaker", EKind::Shaker, true, kShaker},
    TKindInfo{"crash", EKind::Crash, true, kCrash},
};

const double* FindIn(std::span<const TParamDefault> params, std::string_view name) {
  for (const TParamDefault& param : params) {
    if (param.Name == name) return &param.Value;
  }
  return nullptr;
}

}  // namespace

std::span<const TParamDefault> CommonParams() { return kCommon; }

const TKindInfo* FindKind(std::string_view name) {
  for (const TKindInfo& kind : kKinds) {
    if (kind.Name == name) return &kind;
  }
  return nullptr;
}

const double* FindParamDefault(const TKindInfo& kind, std::string_view name) {
  if (const double* common = FindIn(kCommon, name)) return common;
  return FindIn(kind.Params, name);
}

}  // namespace song
