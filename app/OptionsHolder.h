#pragma once
// The options holder (profiles and output naming) with its subtitle state: the settings read at start, the subtitle table, the
// raw-line list the loader works in, and the source frame rate the add routine computes.
#include "options/SubtitleSettings.h"
#include "options/TfrmOption.h"
#include "subtitles/TimeTXTEditor.h"

#include <QStringList>

namespace kv::app {

struct TOptionsHolder : options::TfrmOption {
    options::SubtitleSettings Settings;
    subtitles::TimeTXTEditor TimeTXTEditor;
    QStringList Napisy;         // the raw-line list
    double SourceFrameRate = 0; // frames per second of the source's first stream; 0 before any source
};

} // namespace kv::app
