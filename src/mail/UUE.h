#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

#include "mail/ByteStreams.h"

enum UUMethods { uuMime = 0, uuCode = 1 };

// Decodes an attachment body: MIME Base64 (uuMime) or classic uuencode lines (uuCode). The
// input is read from its current position to its end, one line at a time through a 200-byte
// window; the decoded bytes go to OutputStream. Neither stream is owned.
class TUUProcessor {
 public:
  using NotifyEvent = std::function<void(TUUProcessor& sender)>;

  UUMethods Method = uuMime;
  InputByteStream* InputStream = nullptr;
  OutputByteStream* OutputStream = nullptr;

  // There is no encoder: the two encode events are kept for completeness and never fired.
  NotifyEvent OnBeginEncode;
  NotifyEvent OnEndEncode;
  NotifyEvent OnBeginDecode;
  NotifyEvent OnEndDecode;

  // Buffer sizes only change how the streams are called, never the result. Values below the
  // minimum (a 200-byte line window plus room) are raised to it.
  std::size_t InputBufferSize = 64 * 1024;
  std::size_t OutputBufferSize = 64 * 1024;

  // Fires OnBeginDecode, decodes by Method, fires OnEndDecode. An error from a stream
  // propagates and OnEndDecode is then not fired. Throws std::logic_error when a stream is
  // missing. Afterwards the input's position is just past the last line read, never past
  // its end (a position already past the end stays where it was).
  void Decode();
};

// A MIME Base64 body held in memory, decoded into out.
void decodeBase64Body(std::string_view body, OutputByteStream& out);
