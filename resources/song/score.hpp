// The score: instruments, the notes they play (in beats from the start of the song),
// parameter ramps and the closing fade, and the parser of the plain-text score format.
//
// The format, one statement a line ('#' at the start of a word begins a comment):
//   tempo 120
//   include other.score                      (relative to the including file)
//   instrument NAME KIND [param=value ...]    (kinds and parameters: instrument_kinds.hpp)
//   pattern NAME BARS                         (a block of voice lines, closed by 'end')
//     NAME: d4+f#4:8 a4:4*0.8 ~:4 r:2 | ...   (melodic: notes/chords, lengths in 16ths)
//     NAME: X...x...|o.x.                     (drums: one step per 16th, X x o = loud..soft)
//   end
//   play PATTERN BAR [times=N] [transpose=SEMITONES] [velocity=SCALE] [on=INSTRUMENT]
//   ramp INSTRUMENT PARAM BAR=VALUE BAR=VALUE ...
//   fade FROM_BAR TO_BAR
//   time BAR=SECONDS [BAR=SECONDS ...]        (anchors of the time map, see TScore::SecondsAt)
// Bars count from 1 and may be fractional; a bar has four beats. A line without "NAME:"
// continues the voice above it. A length after ':' stays in force for the following notes
// of the voice; '~' extends the notes before it, '|' checks that the voice is on a bar
// line. Every error names the file and the line.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "resources/song/instrument_kinds.hpp"

namespace song {

inline constexpr double kBeatsPerBar = 4.0;

struct TInstrument {
  std::string Name;
  const TKindInfo* Kind = nullptr;
  std::map<std::string, double, std::less<>> Params;  // every parameter of the kind
  double Param(std::string_view name) const;          // fails for a name the kind lacks
};

struct TNote {
  std::size_t Instrument = 0;
  double Start = 0.0;   // beats from the start of the song
  double Length = 0.0;  // beats
  double Pitch = 0.0;   // MIDI note number (60 is middle C); 0 for drums
  double Velocity = 1.0;
};

struct TRampPoint {
  double Beat;
  double Value;
};

// A parameter that moves over time: straight lines between the points, held flat
// before the first and after the last.
struct TRamp {
  std::size_t Instrument = 0;
  std::string Param;
  std::vector<TRampPoint> Points;
  double ValueAt(double beat) const;
};

struct TFade {
  double FromBeat, ToBeat;
};

// Where a beat sits in time, for music that must meet fixed instants.
struct TTimePoint {
  double Beat;
  double Seconds;
};

struct TScore {
  double Tempo = 120.0;
  std::vector<TInstrument> Instruments;
  std::vector<TNote> Notes;  // in order of appearance
  std::vector<TRamp> Ramps;
  std::optional<TFade> Fade;
  std::vector<TTimePoint> TimeMap;  // increasing in beats and in seconds

  double SecondsPerBeat() const { return 60.0 / Tempo; }
  // The time of a beat. Between two anchors of the time map time runs evenly from one to
  // the other; before the first and after the last it runs at the tempo; without anchors
  // beat 0 is at 0 s.
  double SecondsAt(double beat) const;
  // The beat at a time: the inverse of SecondsAt.
  double BeatAt(double seconds) const;
  const TRamp* FindRamp(std::size_t instrument, std::string_view param) const;
};

class TScoreError : public std::runtime_error {
 public:
  TScoreError(std::string file, int line, const std::string& message);
  const std::string File;
  const int Line;
  const std::string Message;
};

// Reads and parses a score file and the files it includes.
TScore ParseScoreFile(const std::string& path);

// Parses score text as if it had been read from fileName (which names the file in
// errors and is the base for includes).
TScore ParseScoreText(std::string_view text, const std::string& fileName);

}  // namespace song
