// The score model and its parser (see score.hpp for the format).
#include "resources/song/score.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "base/fatal.hpp"

namespace song {

double TInstrument::Param(std::string_view name) const {
  const auto found = Params.find(name);
  if (found == Params.end()) throw std::runtime_error("instrument " + Name + " has no parameter " + std::string(name));
  return found->second;
}

double TRamp::ValueAt(double beat) const {
  if (beat <= Points.front().Beat) return Points.front().Value;
  for (std::size_t i = 1; i < Points.size(); ++i) {
    const TRampPoint& a = Points[i - 1];
    const TRampPoint& b = Points[i];
    if (beat <= b.Beat) return a.Value + (b.Value - a.Value) * (beat - a.Beat) / (b.Beat - a.Beat);
  }
  return Points.back().Value;
}

double TScore::SecondsAt(double beat) const {
  if (TimeMap.empty()) return beat * SecondsPerBeat();
  if (beat <= TimeMap.front().Beat) return TimeMap.front().Seconds + (beat - TimeMap.front().Beat) * SecondsPerBeat();
  for (std::size_t i = 1; i < TimeMap.size(); ++i) {
    const TTimePoint& a = TimeMap[i - 1];
    const TTimePoint& b = TimeMap[i];
    if (beat <= b.Beat) return a.Seconds + (b.Seconds - a.Seconds) * (beat - a.Beat) / (b.Beat - a.Beat);
  }
  return TimeMap.back().Seconds + (beat - TimeMap.back().Beat) * SecondsPerBeat();
}

double TScore::BeatAt(double seconds) const {
  if (TimeMap.empty()) return seconds / SecondsPerBeat();
  if (seconds <= TimeMap.front().Seconds) return TimeMap.front().Beat + (seconds - TimeMap.front().Seconds) / SecondsPerBeat();
  for (std::size_t i = 1; i < TimeMap.size(); ++i) {
    const TTimePoint& a = TimeMap[i - 1];
    const TTimePoint& b = TimeMap[i];
    if (seconds <= b.Seconds) return a.Beat + (b.Beat - a.Beat) * (seconds - a.Seconds) / (b.Seconds - a.Seconds);
  }
  return TimeMap.back().Beat + (seconds - TimeMap.back().Seconds) / SecondsPerBeat();
}

const TRamp* TScore::FindRamp(std::size_t instrument, std::string_view param) const {
  for (const TRamp& ramp : Ramps) {
    if (ramp.Instrument == instrument && ramp.Param == param) return &ramp;
  }
  return nullptr;
}

TScoreError::TScoreError(std::string file, int line, const std::string& message)
    : std::runtime_error(file + ":" + std::to_string(line) + ": " + message),
      File(std::move(file)),
      Line(line),
      Message(message) {}

namespace {

constexpr int kStepsPerBar = 16;   // lengths and grid steps are sixteenth notes
constexpr int kMaxIncludeDepth = 16;

struct TPatternNote {
  std::size_t Instrument;
  double Step;    // sixteenths from the pattern start
  double Length;  // sixteenths
  double Pitch;
  double Velocity;
};

struct TPattern {
  int Bars = 0;
  std::vector<TPatternNote> Notes;
};

struct TPlace {
  std::string File;
  int Line = 0;
};

std::vector<std::string_view> SplitWords(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r')) ++at;
    if (at >= text.size()) break;
    if (text[at] == '#') break;  // a comment runs to the end of the line
    std::size_t end = at;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '\r') ++end;
    words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

bool IsName(std::string_view word) {
  if (word.empty()) return false;
  return std::all_of(word.begin(), word.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
  });
}

class TParser {
 public:
  TScore Parse(std::string_view text, const std::string& fileName) {
    ParseText(text, fileName, 0);
    if (Open) Fail(Open->Place, "pattern " + Open->Name + " has no 'end'");
    return std::move(Score);
  }

 private:
  struct TOpenPattern {
    std::string Name;
    TPlace Place;
    TPattern Pattern;
  };

  // The voice line being read: a line "NAME: ..." starts one, and lines without a name
  // continue it where it stopped.
  struct TVoice {
    std::size_t Instrument = 0;
    double Step = 0.0;                  // sixteenths from the pattern start
    double Length = 4.0;                // the length in force (a quarter note at first)
    std::vector<std::size_t> Previous;  // the notes a '~' extends
  };

  TScore Score;
  std::optional<TVoice> Voice;
  std::map<std::string, TPattern, std::less<>> Patterns;
  std::optional<TOpenPattern> Open;
  std::vector<std::string> IncludeStack;
  bool TempoSeen = false;

  [[noreturn]] static void Fail(const TPlace& place, const std::string& message) {
    throw TScoreError(place.File, place.Line, message);
  }

  static double Number(const TPlace& place, std::string_view text, std::string_view what) {
    double value = 0.0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (!text.empty() && *first == '+') ++first;
    const auto [end, error] = std::from_chars(first, last, value);
    if (text.empty() || error != std::errc() || end != last || !std::isfinite(value)) {
      Fail(place, "expected a number for " + std::string(what) + ", found '" + std::string(text) + "'");
    }
    return value;
  }

  static int WholeNumber(const TPlace& place, std::string_view text, std::string_view what) {
    const double value = Number(place, text, what);
    if (value != std::floor(value) || std::abs(value) > 1e6) {
      Fail(place, "expected a whole number for " + std::string(what) + ", found '" + std::string(text) + "'");
    }
    return static_cast<int>(value);
  }

  // Bar numbers start at 1; the result is in beats from the start of the song.
  static double BarToBeat(const TPlace& place, std::string_view text) {
    const double bar = Number(place, text, "a bar number");
    if (bar < 1.0) Fail(place, "bar numbers start at 1, found '" + std::string(text) + "'");
    return (bar - 1.0) * kBeatsPerBar;
  }

  static std::pair<std::string_view, std::string_view> KeyValue(const TPlace& place, std::string_view word) {
    const std::size_t equals = word.find('=');
    if (equals == std::string_view::npos || equals == 0 || equals + 1 == word.size()) {
      Fail(place, "expected name=value, found '" + std::string(word) + "'");
    }
    return {word.substr(0, equals), word.substr(equals + 1)};
  }

  std::size_t InstrumentIndex(const TPlace& place, std::string_view name) const {
    for (std::size_t i = 0; i < Score.Instruments.size(); ++i) {
      if (Score.Instruments[i].Name == name) return i;
    }
    Fail(place, "unknown instrument '" + std::string(name) + "'");
  }

  void ParseText(std::string_view text, const std::string& fileName, int depth) {
    IncludeStack.push_back(fileName);
    int lineNumber = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
      std::size_t end = text.find('\n', at);
      if (end == std::string_view::npos) end = text.size();
      ++lineNumber;
      const TPlace place{fileName, lineNumber};
      ParseLine(place, text.substr(at, end - at), depth);
      at = end + 1;
    }
    IncludeStack.pop_back();
  }

  void ParseLine(const TPlace& place, std::string_view line, int depth) {
    if (Open) {
      const std::vector<std::string_view> words = SplitWords(line);
      if (words.empty()) return;
      if (words.size() == 1 && words[0] == "end") {
        Patterns.emplace(Open->Name, std::move(Open->Pattern));
        Open.reset();
        Voice.reset();
        return;
      }
      if (words[0] == "pattern") Fail(place, "pattern inside pattern " + Open->Name + " (missing 'end'?)");
      ParseVoiceLine(place, line);
      return;
    }
    const std::vector<std::string_view> words = SplitWords(line);
    if (words.empty()) return;
    const std::string_view command = words[0];
    if (command == "tempo") return ParseTempo(place, words);
    if (command == "include") return ParseInclude(place, words, depth);
    if (command == "instrument") return ParseInstrument(place, words);
    if (command == "pattern") return ParsePatternStart(place, words);
    if (command == "play") return ParsePlay(place, words);
    if (command == "ramp") return ParseRamp(place, words);
    if (command == "fade") return ParseFade(place, words);
    if (command == "time") return ParseTime(place, words);
    if (command == "end") Fail(place, "'end' without an open pattern");
    Fail(place, "unknown statement '" + std::string(command) + "'");
  }

  void ParseTempo(const TPlace& place, const std::vector<std::string_view>& words) {
    if (words.size() != 2) Fail(place, "usage: tempo BEATS_PER_MINUTE");
    if (TempoSeen) Fail(place, "the tempo is already set");
    const double tempo = Number(place, words[1], "the tempo");
    if (tempo < 20.0 || tempo > 400.0) Fail(place, "tempo must be between 20 and 400 beats per minute");
    Score.Tempo = tempo;
    TempoSeen = true;
  }

  void ParseInclude(const TPlace& place, const std::vector<std::string_view>& words, int depth) {
    if (words.size() != 2) Fail(place, "usage: include FILE");
    if (depth + 1 > kMaxIncludeDepth) Fail(place, "includes nested too deeply");
    const std::filesystem::path base = std::filesystem::path(place.File).parent_path();
    const std::string path = (base / std::string(words[1])).lexically_normal().string();
    if (std::find(IncludeStack.begin(), IncludeStack.end(), path) != IncludeStack.end()) {
      Fail(place, "file includes itself: " + path);
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail(place, "cannot open included file " + path);
    std::ostringstream content;
    content << in.rdbuf();
    ParseText(content.str(), path, depth + 1);
  }

  void ParseInstrument(const TPlace& place, const std::vector<std::string_view>& words) {
    if (words.size() < 3) Fail(place, "usage: instrument NAME KIND [param=value ...]");
    if (!IsName(words[1])) Fail(place, "bad instrument name '" + std::string(words[1]) + "'");
    for (const TInstrument& existing : Score.Instruments) {
      if (existing.Name == words[1]) Fail(place, "instrument '" + existing.Name + "' is already defined");
    }
    const TKindInfo* kind = FindKind(words[2]);
    if (kind == nullptr) Fail(place, "unknown instrument kind '" + std::string(words[2]) + "'");
    TInstrument instrument;
    instrument.Name = std::string(words[1]);
    instrument.Kind = kind;
    for (const TParamDefault& param : CommonParams()) instrument.Params.emplace(param.Name, param.Value);
    for (const TParamDefault& param : kind->Params) instrument.Params.emplace(param.Name, param.Value);
    for (std::size_t i = 3; i < words.size(); ++i) {
      const auto [name, value] = KeyValue(place, words[i]);
      const auto found = instrument.Params.find(name);
      if (found == instrument.Params.end()) {
        Fail(place, "instrument kind " + std::string(kind->Name) + " has no parameter '" + std::string(name) + "'");
      }
      found->second = Number(place, value, name);
    }
    Score.Instruments.push_back(std::move(instrument));
  }

  void ParsePatternStart(const TPlace& place, const std::vector<std::string_view>& words) {
    if (words.size() != 3) Fail(place, "usage: pattern NAME BARS");
    if (!IsName(words[1])) Fail(place, "bad pattern name '" + std::string(words[1]) + "'");
    if (Patterns.contains(words[1])) Fail(place, "pattern '" + std::string(words[1]) + "' is already defined");
    const int bars = WholeNumber(place, words[2], "the pattern length");
    if (bars < 1 || bars > 64) Fail(place, "a pattern lasts 1 to 64 bars");
    Open = TOpenPattern{std::string(words[1]), place, TPattern{bars, {}}};
  }

  // "NAME: tokens" starts a voice (notes for melodic instruments, a step grid for
  // drums); a line without "NAME:" in front continues the voice before it.
  void ParseVoiceLine(const TPlace& place, std::string_view line) {
    std::string_view rest = line;
    const std::vector<std::string_view> words = SplitWords(line);
    if (!words.empty() && words[0].size() > 1 && words[0].back() == ':' &&
        IsName(words[0].substr(0, words[0].size() - 1))) {
      Voice = TVoice{};
      Voice->Instrument = InstrumentIndex(place, words[0].substr(0, words[0].size() - 1));
      rest = line.substr(line.find(':') + 1);
    } else if (!Voice) {
      Fail(place, "expected 'INSTRUMENT: ...' or 'end' inside a pattern");
    }
    if (Score.Instruments[Voice->Instrument].Kind->Drum) {
      ParseGrid(place, rest);
    } else {
      ParseNotes(place, rest);
    }
    const double limit = static_cast<double>(Open->Pattern.Bars * kStepsPerBar);
    if (Voice->Step > limit) {
      Fail(place, "voice lasts " + FormatSteps(Voice->Step) + " sixteenths but pattern " + Open->Name +
                      " has only " + FormatSteps(limit));
    }
  }

  static std::string FormatSteps(double steps) {
    std::ostringstream out;
    out << steps;
    return out.str();
  }

  static void CheckBarLine(const TPlace& place, double step) {
    if (std::fmod(step, kStepsPerBar) != 0.0) {
      Fail(place, "bar line after " + FormatSteps(step) + " sixteenths is not on a bar boundary");
    }
  }

  void ParseGrid(const TPlace& place, std::string_view grid) {
    const std::size_t instrument = Voice->Instrument;
    double& step = Voice->Step;
    for (const char c : grid) {
      if (c == '#') break;
      double velocity = 0.0;
      switch (c) {
        case ' ': case '\t': case '\r': continue;
        case '|': CheckBarLine(place, step); continue;
        case '.': break;
        case 'X': velocity = 1.0; break;
        case 'x': velocity = 0.72; break;
        case 'o': velocity = 0.45; break;
        default: Fail(place, std::string("unexpected '") + c + "' in a drum grid (use X x o . |)");
      }
      if (velocity > 0.0) Open->Pattern.Notes.push_back({instrument, step, 1.0, 0.0, velocity});
      step += 1.0;
    }
  }

  // A note name such as c4, f#3 or bb2, as a MIDI number (c4 = 60).
  static double NoteNumber(const TPlace& place, std::string_view text) {
    static constexpr int kPitchClass[] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
    const std::string bad = "bad note '" + std::string(text) + "' (expected a letter a-g, optional # or b, octave 0-9)";
    if (text.empty() || text[0] < 'a' || text[0] > 'g') Fail(place, bad);
    int pitch = kPitchClass[CheckIndex(static_cast<std::size_t>(text[0] - 'a'), 7)];
    std::size_t at = 1;
    if (at < text.size() && (text[at] == '#' || text[at] == 'b')) {
      pitch += text[at] == '#' ? 1 : -1;
      ++at;
    }
    const std::string_view octaveText = text.substr(at);
    int octave = 0;
    const auto [end, error] = std::from_chars(octaveText.data(), octaveText.data() + octaveText.size(), octave);
    if (octaveText.empty() || error != std::errc() || end != octaveText.data() + octaveText.size() || octave < 0 ||
        octave > 9) {
      Fail(place, bad);
    }
    return 12.0 * (octave + 1) + pitch;
  }

  void ParseNotes(const TPlace& place, std::string_view text) {
    const std::size_t instrument = Voice->Instrument;
    double& step = Voice->Step;
    double& length = Voice->Length;
    std::vector<std::size_t>& previous = Voice->Previous;
    for (std::string_view token : SplitWords(text)) {
      if (token == "|") {
        CheckBarLine(place, step);
        continue;
      }
      double velocity = 1.0;
      if (const std::size_t star = token.find('*'); star != std::string_view::npos) {
        velocity = Number(place, token.substr(star + 1), "a velocity");
        if (velocity <= 0.0 || velocity > 2.0) Fail(place, "velocity must be above 0 and at most 2");
        token = token.substr(0, star);
      }
      if (const std::size_t colon = token.find(':'); colon != std::string_view::npos) {
        length = Number(place, token.substr(colon + 1), "a length in sixteenths");
        if (length <= 0.0 || length > 1024.0) Fail(place, "a length must be above 0 and at most 1024 sixteenths");
        token = token.substr(0, colon);
      }
      if (token == "r") {
        previous.clear();
      } else if (token == "~") {
        if (previous.empty()) Fail(place, "'~' without a note before it");
        for (const std::size_t index : previous) Open->Pattern.Notes[CheckIndex(index, Open->Pattern.Notes.size())].Length += length;
      } else {
        previous.clear();
        std::size_t start = 0;
        while (start <= token.size()) {
          std::size_t plus = token.find('+', start);
          if (plus == std::string_view::npos) plus = token.size();
          const double pitch = NoteNumber(place, token.substr(start, plus - start));
          previous.push_back(Open->Pattern.Notes.size());
          Open->Pattern.Notes.push_back({instrument, step, length, pitch, velocity});
          start = plus + 1;
        }
      }
      step += length;
    }
  }

  void ParsePlay(const TPlace& place, const std::vector<std::string_view>& words) {
    if (words.size() < 3) Fail(place, "usage: play PATTERN BAR [times=N] [transpose=N] [velocity=V] [on=INSTRUMENT]");
    const auto found = Patterns.find(words[1]);
    if (found == Patterns.end()) Fail(place, "unknown pattern '" + std::string(words[1]) + "'");
    const TPattern& pattern = found->second;
    const double startBeat = BarToBeat(place, words[2]);
    int times = 1;
    double transpose = 0.0;
    double velocity = 1.0;
    std::optional<std::size_t> on;  // plays every note of the pattern on this instrument
    for (std::size_t i = 3; i < words.size(); ++i) {
      const auto [name, value] = KeyValue(place, words[i]);
      if (name == "times") {
        times = WholeNumber(place, value, "times");
        if (times < 1 || times > 256) Fail(place, "times must be 1 to 256");
      } else if (name == "transpose") {
        transpose = WholeNumber(place, value, "transpose");
        if (std::abs(transpose) > 48) Fail(place, "transpose must be within four octaves");
      } else if (name == "velocity") {
        velocity = Number(place, value, "velocity");
        if (velocity <= 0.0 || velocity > 2.0) Fail(place, "velocity must be above 0 and at most 2");
      } else if (name == "on") {
        on = InstrumentIndex(place, value);
      } else {
        Fail(place, "unknown play option '" + std::string(name) + "'");
      }
    }
    for (int repeat = 0; repeat < times; ++repeat) {
      const double offset = startBeat + repeat * pattern.Bars * kBeatsPerBar;
      for (const TPatternNote& note : pattern.Notes) {
        const bool drum = Score.Instruments[note.Instrument].Kind->Drum;
        const std::size_t instrument = on.value_or(note.Instrument);
        if (Score.Instruments[instrument].Kind->Drum != drum) {
          Fail(place, std::string(drum ? "drum steps" : "notes") + " of pattern " + std::string(words[1]) +
                          " cannot be played on " + Score.Instruments[instrument].Name);
        }
        Score.Notes.push_back({instrument, offset + note.Step / 4.0, note.Length / 4.0,
                               drum ? 0.0 : note.Pitch + transpose, note.Velocity * velocity});
      }
    }
  }

  void ParseRamp(const TPlace& place, const std::vector<std::string_view>& words) {
    if (words.size() < 5) Fail(place, "usage: ramp INSTRUMENT PARAM BAR=VALUE BAR=VALUE ...");
    TRamp ramp;
    ramp.Instrument = InstrumentIndex(place, words[1]);
    const TInstrument& instrument = Score.Instruments[ramp.Instrument];
    if (!instrument.Params.contains(words[2])) {
      Fail(place, "instrument " + instrument.Name + " has no parameter '" + std::string(words[2]) + "'");
    }
    if (Score.FindRamp(ramp.Instrument, words[2]) != nullptr) {
      Fail(place, "parameter " + std::string(words[2]) + " of " + instrument.Name + " already has a ramp");
    }
    ramp.Param = std::string(words[2]);
    for (std::size_t i = 3; i < words.size(); ++i) {
      const auto [bar, value] = KeyValue(place, words[i]);
      const TRampPoint point{BarToBeat(place, bar), Number(place, value, ramp.Param)};
      if (!ramp.Points.empty() && point.Beat <= ramp.Points.back().Beat) {
        Fail(place, "ramp points must be in increasing bar order");
      }
      ramp.Points.push_back(point);
    }
    Score.Ramps.push_back(std::move(ramp));
  }

  void ParseFade(const TPlace& place, const std::vector<std::string_view>& words) {
    if (words.size() != 3) Fail(place, "usage: fade FROM_BAR TO_BAR");
    if (Score.Fade) Fail(place, "the fade is already set");
    const TFade fade{BarToBeat(place, words[1]), BarToBeat(place, words[2])};
    if (fade.ToBeat <= fade.FromBeat) Fail(place, "the fade must end after it starts");
    Score.Fade = fade;
  }

  void ParseTime(const TPlace& place, const std::vector<std::string_view>& words) {
    if (words.size() < 2) Fail(place, "usage: time BAR=SECONDS [BAR=SECONDS ...]");
    for (std::size_t i = 1; i < words.size(); ++i) {
      const auto [bar, seconds] = KeyValue(place, words[i]);
      const TTimePoint point{BarToBeat(place, bar), Number(place, seconds, "the seconds")};
      if (point.Seconds < 0.0) Fail(place, "a time anchor cannot lie before the start of the song");
      if (!Score.TimeMap.empty() &&
          (point.Beat <= Score.TimeMap.back().Beat || point.Seconds <= Score.TimeMap.back().Seconds)) {
        Fail(place, "time anchors must come later in bars and in seconds than the one before");
      }
      Score.TimeMap.push_back(point);
    }
  }
};

}  // namespace

TScore ParseScoreText(std::string_view text, const std::string& fileName) {
  TParser parser;
  return parser.Parse(text, fileName);
}

TScore ParseScoreFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw TScoreError(path, 0, "cannot open score file");
  std::ostringstream content;
  content << in.rdbuf();
  return ParseScoreText(content.str(), path);
}

}  // namespace song
