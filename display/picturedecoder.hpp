// uPictureDecoder: decodes picture entries on a thread of its own, one after another in the
// order given, while the main thread goes on with the rest of the start-up (the font atlas,
// the song) and then uploads each picture as it is ready. Decompressing the pictures is
// most of their loading's processor time and needs no GL, so on a machine with a second
// core it leaves the main thread's path. The thread reads only the mapped store and its own
// buffers, never ends the process (a picture that cannot be decoded comes back with the
// line and status its upload ends with) and stops after the first such picture.
// Depends on uBMP and uStore.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "display/bmp.hpp"
#include "engine/store.hpp"

class TPictureDecoder {
 public:
  // Starts decoding; the entries' bytes must stay mapped while the decoder lives.
  TPictureDecoder(std::vector<TResourceEntry> entries, std::int32_t maxTextureSize);
  // Lets the picture being decoded finish, then ends the thread.
  ~TPictureDecoder();
  TPictureDecoder(const TPictureDecoder&) = delete;
  TPictureDecoder& operator=(const TPictureDecoder&) = delete;

  std::size_t Count() const { return Entries.size(); }
  // Waits until picture index (in the order given) is decoded and hands it over; each
  // picture is handed over once (a second Take ends the demo as an internal error). A picture the thread did not reach because an earlier one
  // failed comes back with that failure's line and status.
  TDecodedPicture Take(std::size_t index);

 private:
  void Work();

  const std::vector<TResourceEntry> Entries;
  const std::int32_t MaxTextureSize;
  std::mutex Lock;
  std::condition_variable Decoded;
  std::vector<std::optional<TDecodedPicture>> Pictures;  // guarded by Lock
  std::vector<bool> Taken;                               // guarded by Lock
  std::string FirstError;                                // guarded by Lock
  int FirstStatus = 0;                                   // guarded by Lock
  bool Finished = false;                                 // guarded by Lock
  bool Stopping = false;                                 // guarded by Lock
  std::thread Worker;                                    // started last
};
