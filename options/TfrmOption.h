#pragma once
// The options holder: fills a conversion task's records from the current source's decoder
// and the chosen profile, and keeps the subtitle state: the settings read at start, the
// subtitle table, the raw-line list the loader works in and the source frame rate. It is
// never shown.
#include "media/Records.h"
#include "media/TFFDecoder.h"
#include "options/SubtitleSettings.h"
#include "subtitles/TimeTXTEditor.h"

#include <QStringList>

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

    // Subtitle state, read and written on the GUI thread only.
    SubtitleSettings Settings;
    subtitles::TimeTXTEditor TimeTXTEditor;
    QStringList Napisy;         // the raw-line list
    double SourceFrameRate = 0; // frames per second of the source's first stream; 0 before any source

  private:
    media::TFFDecoder* decoder_ = nullptr;
};

} // namespace kv::options
