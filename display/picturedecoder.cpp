// uPictureDecoder: the picture decoding thread (see picturedecoder.hpp).
#include "display/picturedecoder.hpp"

#include <utility>

#include "engine/fatal.hpp"

TPictureDecoder::TPictureDecoder(std::vector<TResourceEntry> entries, std::int32_t maxTextureSize)
    : Entries(std::move(entries)), MaxTextureSize(maxTextureSize), Pictures(Entries.size()), Taken(Entries.size(), false) {
  Worker = std::thread([this] { Work(); });
}

TPictureDecoder::~TPictureDecoder() {
  {
    std::lock_guard guard(Lock);
    Stopping = true;
  }
  Worker.join();
}

void TPictureDecoder::Work() {
  for (std::size_t i = 0; i < Entries.size(); ++i) {
    {
      std::lock_guard guard(Lock);
      if (Stopping) break;
    }
    TDecodedPicture picture = DecodePicture(Entries[i], MaxTextureSize);
    const bool failed = !picture.Error.empty();
    std::lock_guard guard(Lock);
    if (failed) {
      FirstError = picture.Error;
      FirstStatus = picture.Status;
    }
    Pictures[i] = std::move(picture);
    Decoded.notify_all();
    if (failed) break;
  }
  std::lock_guard guard(Lock);
  Finished = true;
  Decoded.notify_all();
}

TDecodedPicture TPictureDecoder::Take(std::size_t index) {
  index = CheckIndex(index, Entries.size());
  std::unique_lock guard(Lock);
  Decoded.wait(guard, [&] { return Pictures[index].has_value() || Finished; });
  Assert(!Taken[index], "picture taken twice", "uPictureDecoder", __LINE__);
  Taken[index] = true;
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
