#include "options/TfrmOption.h"

#include "options/Profiles.h"

namespace kv::options {

void TfrmOption::FillOutputOptions(media::TOutputOptions& options, bool hiProfile) const
{
    options = pspProfile(hiProfile);
    if (decoder_)
        options.FileName = OutputFileName(decoder_->FileName(), options.FileExt);
}

void TfrmOption::FillInputOptions(media::TInputOptions& options) const
{
    options = media::TInputOptions{};
    if (decoder_) {
        options.FileName = decoder_->FileName();
        options.ForceFormat = decoder_->ForceFormat();
    }
}

} // namespace kv::options
