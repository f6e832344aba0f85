// Test support: records the harness's audio sink into a WAV file, through the sound
// server's own recorder.
#pragma once

#include <memory>
#include <string>

class TDemoProcess;

// Records the harness's sink ($KELVO_SINK) into a 16-bit stereo WAV file at 44100 frames per
// second, with parecord from the sink's monitor (under PipeWire through its PulseAudio
// server). The constructor returns once samples arrive.
class TSinkRecorder {
 public:
  // Records into path; an empty path means a new temporary file. Throws
  // std::runtime_error when KELVO_SINK is not set or the recorder does not start.
  explicit TSinkRecorder(std::string path = {});
  ~TSinkRecorder();
  TSinkRecorder(const TSinkRecorder&) = delete;
  TSinkRecorder& operator=(const TSinkRecorder&) = delete;

  // Ends the recording (the recorder finishes the file) and returns the file's path.
  std::string Stop();

 private:
  std::string Path_;
  bool OwnsFile_ = false;
  std::unique_ptr<TDemoProcess> Recorder_;
};
