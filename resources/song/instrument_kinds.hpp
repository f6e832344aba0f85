// The kinds of instrument the synthesizer can play and the parameters each one takes,
// with their defaults. The score parser checks instrument definitions against this
// table; the voices read their settings by the same names.
#pragma once

#include <span>
#include <string_view>
#include <utility>

namespace song {

enum class EKind {
  Pad,     // detuned band-limited saws through a low-pass, slow envelope, wide stereo
  Pluck,   // short saw/pulse note with a decaying filter envelope
  Keys,    // two-operator FM electric piano
  Bass,    // saw plus sine sub-octave through a low-pass with envelope
  Lead,    // saw/pulse lead with glide and delayed vibrato
  Bell,    // inharmonic FM bell
  Waves,   // filtered stereo noise swells: the sea against the quay
  Riser,   // noise through a band-pass sweeping upwards over the note
  Kick,
  Snare,
  Rim,
  Hat,
  OpenHat,
  Clap,
  Shaker,
  Crash,
};

struct TParamDefault {
  std::string_view Name;
  double Value;
};

struct TKindInfo {
  std::string_view Name;
  EKind Kind;
  bool Drum;  // played from a step grid instead of notes
  std::span<const TParamDefault> Params;
};

// Parameters that every instrument takes: level in dB, pan -1..1, the amounts sent to
// the reverb and the delay, how much the kick ducks it (0..1), and how much its notes
// stray in time and strength like a player's (0..1).
std::span<const TParamDefault> CommonParams();

// The kind with this name, or nullptr.
const TKindInfo* FindKind(std::string_view name);

// The default of a kind's (or a common) parameter, or nullptr when the kind lacks it.
const double* FindParamDefault(const TKindInfo& kind, std::string_view name);

}  // namespace song
