// uPictureDecoder: decodes picture entries on a thread of its own, one after another in the
// order given, while the main thread goes on with the rest of the start-up (the font atlas,
// the song) and then uploads each picture as it is ready. Decompressing the pictures is
// most of their loading's processor time and needs no GL, so on a machine with a second
// core it leaves the main thread's path. The thread runs at a lower priority, and a picture
// it has not begun when the main thread asks for it is decoded by the main thread itself,
// so a busy or one-core machine starts no later than with no thread at all. The thread
// reads only the mapped store and its own buffers, never ends the process (a picture that
// cannot be decoded comes back with the line and status its upload ends with) and stops
// after the first such picture.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "display/bmp.hpp"
#include "store/store.hpp"

class TPictureDecoder {
 public:
  // Starts decoding; the entries' bytes must stay mapped while the decoder lives. Without
  // a thread (withThread false) every picture is decoded by Take.
  TPictureDecoder(std::vector<TResourceEntry> entries, std::int32_t maxTextureSize, bool withThread = true);
  // Lets the picture being decoded finish, then ends the thread.
  ~TPictureDecoder();
  TPictureDecoder(const TPictureDecoder&) = delete;
  TPictureDecoder& operator=(const TPictureDecoder&) = delete;

  std::size_t Count() const { return Entries.size(); }
  // Hands over picture index (in the order given): decoded here if the thread has not
  // begun it, else once the thread has it. Each picture is handed over once (a second Take
  // ends the demo as an internal error). A picture not decoded because an earlier one
  // failed comes back with that failure's line and status.
  TDecodedPicture Take(std::size_t index);

 private:
  void Work();
  // Keeps a decoded picture for Take and notes the first failure.
  void Keep(std::size_t index, TDecodedPicture picture);

  const std::vector<TResourceEntry> Entries;
  const std::int32_t MaxTextureSize;
  std::mutex Lock;
  std::condition_variable Decoded;
  std::vector<std::optional<TDecodedPicture>> Pictures;  // guarded by Lock
  std::vector<bool> Taken;                               // guarded by Lock
  std::string FirstError;                                // guarded by Lock
  int FirstStatus = 0;                                   // guarded by Lock
  std::size_t Next = 0;                                  // the first picture nobody began; guarded by Lock
  bool Finished = false;                                 // guarded by Lock
  bool Stopping = false;                                 // guarded by Lock
  std::thread Worker;                                    // started last, if at all
};
