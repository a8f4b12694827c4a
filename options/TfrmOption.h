#pragma once
// The options holder: fills a conversion task's records from the current source's decoder
// and the chosen profile. It is never shown; other settings (subtitles) join it later.
#include "media/Records.h"
#include "media/TFFDecoder.h"

namespace kv::options {

class TfrmOption {
  public:
    // Remembers the decoder of the source just opened (not owned; replaced on every call).
    void AttachDecoder(media::TFFDecoder& decoder) { decoder_ = &decoder; }
    media::TFFDecoder* Decoder() const { return decoder_; }

    // The profile's record with the output named beside the source (hiProfile: btnHi.Down).
    // Needs AttachDecoder with the source still open.
    void FillOutputOptions(media::TOutputOptions& options, bool hiProfile) const;
    // The source's file name and forced format.
    void FillInputOptions(media::TInputOptions& options) const;

  private:
    media::TFFDecoder* decoder_ = nullptr;
};

} // namespace kv::options
