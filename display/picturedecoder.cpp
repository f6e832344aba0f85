// uPictureDecoder: the picture decoding thread (see picturedecoder.hpp).
#include "display/picturedecoder.hpp"

#include <utility>

#include "base/fatal.hpp"
#include "platform/thread.hpp"

TPictureDecoder::TPictureDecoder(std::vector<TResourceEntry> entries, std::int32_t maxTextureSize, bool withThread)
    : Entries(std::move(entries)), MaxTextureSize(maxTextureSize), Pictures(Entries.size()), Taken(Entries.size(), false) {
  if (withThread) Worker = std::thread([this] { Work(); });
  else Finished = true;
}

TPictureDecoder::~TPictureDecoder() {
  {
    std::lock_guard guard(Lock);
    Stopping = true;
  }
  if (Worker.joinable()) Worker.join();
}

void TPictureDecoder::Work() {
  // Background work: where the machine is busy, the main thread's own work goes first.
  SetCurrentThreadPriority(TThreadPriority::Background);
  for (;;) {
    std::size_t index = 0;
    {
      std::lock_guard guard(Lock);
      if (Stopping || !FirstError.empty() || Next == Entries.size()) break;
      index = Next++;
    }
    Keep(index, DecodePicture(Entries[index], MaxTextureSize));
  }
  std::lock_guard guard(Lock);
  Finished = true;
  Decoded.notify_all();
}

void TPictureDecoder::Keep(std::size_t index, TDecodedPicture picture) {
  std::lock_guard guard(Lock);
  if (!picture.Error.empty() && FirstError.empty()) {
    FirstError = picture.Error;
    FirstStatus = picture.Status;
  }
  Pictures[index] = std::move(picture);
  Decoded.notify_all();
}

TDecodedPicture TPictureDecoder::Take(std::size_t index) {
  index = CheckIndex(index, Entries.size());
  std::unique_lock guard(Lock);
  Assert(!Taken[index], "picture taken twice", "uPictureDecoder", __LINE__);
  Taken[index] = true;
  if (index == Next && FirstError.empty() && !Stopping) {
    // The thread has not begun this one (it is behind, or has no processor to itself):
    // decoding it here is quicker than waiting.
    ++Next;
    guard.unlock();
    TDecodedPicture picture = DecodePicture(Entries[index], MaxTextureSize);
    if (!picture.Error.empty()) Keep(index, picture);
    return picture;
  }
  // Pictures before Next were begun by the thread, which keeps each before it finishes.
  Decoded.wait(guard, [&] { return Pictures[index].has_value() || Finished; });
  if (Pictures[index].has_value()) {
    TDecodedPicture picture = std::move(*Pictures[index]);
    Pictures[index].reset();
    return picture;
  }
  // Not reached: an earlier picture failed (the thread stopped there) or the decoder is
  // being stopped.
  TDecodedPicture missing;
  missing.Error = FirstError.empty() ? "[uBMP] picture " + std::to_string(index) + " was not decoded" : FirstError;
  missing.Status = FirstError.empty() ? kExitAssertion : FirstStatus;
  missing.Header.Error = missing.Error;
  missing.Header.Status = missing.Status;
  return missing;
}
